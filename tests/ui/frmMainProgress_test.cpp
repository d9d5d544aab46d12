// A put or get while it runs: its progress in the status line and Cancel
// against a real server that takes uploads in, or sends files, slowly; and
// what chooses the files a put or get works on: clicks and keys that move
// through a list, never the focus, and a drag in the folder list.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ByteText.h"
#include "CommandWindow.h"
#include "DirListBox.h"
#include "FtpTestServer.h"
#include "OrvFtpClient.h"
#include "OrvFtpLibrary.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "WidgetProbes.h"
#include "WindowPump.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using namespace window_test;

namespace {

// Everything below the server's root, by name.
std::vector<std::string> ServerNames(const FtpTestServer& server) {
  std::vector<std::string> vs;
  for (const auto& e : fs::recursive_directory_iterator(server.Root())) vs.push_back(e.path().filename().string());
  return vs;
}

// The shared window, active: the keys the tests send go to it.
class Progress : public CommandWindow {
 protected:
  void SetUp() override {
    CommandWindow::SetUp();
    m_pWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pWindow.get()));
  }

  void WriteLocal(const std::string& sName, std::size_t lSize) const {
    std::ofstream(Local(sName), std::ios::binary) << std::string(lSize, 'x');
  }
  void StartPut(const std::string& sName) {
    W().tbFtpPath->setText("/");
    W().tbLocalPath->setText(ByteText_FromBytes(Local(sName)));
    W().cbPut->click();
  }
};

// The server takes 256 KiB a second; far more than the sockets between
// hold, so the put is still sending when it is cancelled.
TEST_F(Progress, ASlowPutShowsItsProgressAndCancelOrEscapeEndsItLeavingNothingOnTheServer) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "slow_upload"});
  WriteLocal("big.bin", 64u << 20);
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  EXPECT_FALSE(w.cbCancel->isVisible());
  const QRegularExpression oProgress(
      QStringLiteral("^FTP-PUT [0-9.]+ (B|KiB|MiB) of 64\\.0 MiB \\([0-9]+ %\\), [0-9.]+ (B|KiB|MiB)/s$"));
  for (const bool bEscape : {false, true}) {
    SCOPED_TRACE(bEscape ? "Escape" : "Cancel button");
    m_oApp.messages.clear();
    StartPut("big.bin");
    EXPECT_TRUE(w.cbCancel->isVisible());
    ASSERT_TRUE(PumpUntil([&] { return oProgress.match(w.labStatus->text()).hasMatch(); })) << Text(w.labStatus);
    EXPECT_TRUE(w.cbCancel->isVisible());
    EXPECT_GT(w.cbCancel->geometry().left(), w.width() / 2);
    EXPECT_EQ(w.cbCancel->geometry().bottom(), w.labStatus->geometry().bottom());
    if (bEscape) {
      w.lbLocalFiles->setFocus();
      QTest::keyClick(w.lbLocalFiles, Qt::Key_Escape);
    } else {
      QTest::mouseClick(w.cbCancel, Qt::LeftButton);
    }
    ASSERT_TRUE(PumpUntil([&] { return !w.TransferRunning(); }));
    EXPECT_EQ(Text(w.labStatus), "FTP-PUT cancelled");
    EXPECT_EQ(Colour(w.cbPut), kRed);
    EXPECT_FALSE(w.labStatus->toolTip().isEmpty());
    EXPECT_FALSE(w.cbCancel->isVisible());
    // The user's own cancel is no warning: no box, the status line says it.
    EXPECT_TRUE(m_oApp.messages.empty());
    // Neither the file nor the part of it that had arrived.
    EXPECT_EQ(ServerNames(server), std::vector<std::string>{}) << server.ServerLog();
  }
  // Escape without a transfer changes nothing.
  QTest::keyClick(w.lbLocalFiles, Qt::Key_Escape);
  EXPECT_EQ(Text(w.labStatus), "FTP-PUT cancelled");
}

// Cancel during a queue ends the running file and every one after it,
// also the one already handed to the connection behind it: nothing of
// them arrives, and only the running one was ever sent.
TEST_F(Progress, CancelDuringAQueueEndsTheRunningFileAndAllAfterIt) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "slow_upload"});
  // Larger than the sockets between hold, as above.
  WriteLocal("a.bin", 64u << 20);
  WriteLocal("b.bin", 64u << 20);
  WriteLocal("c.bin", 10);
  W().dlb_Click();
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  w.tbFtpPath->setText("/");
  w.lbLocalFiles->selectAll();
  w.cbPut->click();
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus).rfind("FTP-PUT 1 of 3: a.bin ", 0) == 0; }))
      << Text(w.labStatus);
  QTest::mouseClick(w.cbCancel, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !w.TransferRunning(); }));
  EXPECT_EQ(Text(w.labStatus), "FTP-PUT cancelled, 0 of 3 OK");
  EXPECT_EQ(Colour(w.cbPut), kRed);
  EXPECT_EQ(ServerNames(server), std::vector<std::string>{}) << server.ServerLog();
  std::vector<std::string> vsStors;
  for (const std::string& s : server.Commands())
    if (s.rfind("STOR ", 0) == 0) vsStors.push_back(s);
  ASSERT_EQ(vsStors.size(), 1u);
  EXPECT_NE(vsStors[0].find("a.bin"), std::string::npos) << vsStors[0];
  EXPECT_TRUE(m_oApp.messages.empty());
}

// Closing the window while a put runs asks first; No carries on with the
// put. (Yes ends the process: the real-clicks test answers it.)
TEST_F(Progress, ClosingDuringAPutAsksAndNoCarriesOn) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "slow_upload"});
  WriteLocal("big.bin", 64u << 20);
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  StartPut("big.bin");
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus).rfind("FTP-PUT ", 0) == 0; })) << Text(w.labStatus);
  EXPECT_FALSE(w.close());
  ASSERT_EQ(m_oApp.questions.size(), 1u);
  EXPECT_EQ(m_oApp.questions[0].sText, "A transfer is still running. Close anyway?");
  EXPECT_TRUE(w.isVisible());
  const std::string sBefore = Text(w.labStatus);
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus) != sBefore; })) << "the put goes on";
  EXPECT_TRUE(w.TransferRunning());
  EXPECT_TRUE(m_oApp.messages.empty());

  QTest::mouseClick(w.cbCancel, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !w.TransferRunning(); }));
  EXPECT_EQ(ServerNames(server), std::vector<std::string>{});
}

// The put runs on a connection of its own beside a slow listing: Cancel
// ends the put, and the listing arrives whole.
TEST_F(Progress, CancelEndsThePutNotTheListingBesideIt) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "trickle"});
  for (int i = 0; i < 100; ++i) server.WriteFile("/file " + std::to_string(i) + ".txt", "x");
  WriteLocal("big.bin", 64u << 20);
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  ASSERT_EQ(w.lbFtpFiles->count(), 100);
  w.lbFtpFiles->clear();
  w.tvFtpDirs_NodeClick(w.FtpNode("ROOT"));
  StartPut("big.bin");
  QTest::mouseClick(w.cbCancel, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !w.TransferRunning(); }));
  EXPECT_EQ(Text(w.labStatus), "FTP-PUT cancelled");
  ASSERT_TRUE(PumpUntil([&] { return w.lbFtpFiles->count() == 100; }, std::chrono::seconds(30)));
  EXPECT_TRUE(m_oApp.messages.empty());
  EXPECT_FALSE(fs::exists(server.LocalPath("/big.bin")));
}

// A get that trickles in shows its progress too; Cancel ends it and the
// local file of that name stays as it was, with nothing beside it.
TEST_F(Progress, CancelEndsASlowGetAndKeepsTheOldLocalFile) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "trickle"});
  server.WriteFile("/slow.bin", std::string(512 * 1024, 's'));
  std::ofstream(Local("slow.bin")) << "old";
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  w.tbFtpPath->setText("/slow.bin");
  w.tbLocalPath->setText(ByteText_FromBytes(m_oLocal.Path() + "/"));
  m_oApp.bAnswer = true;  // replace the local file
  w.cbGet->click();
  EXPECT_EQ(m_oApp.questions.size(), 1u);
  ASSERT_TRUE(PumpUntil([&] {
    return Text(w.labStatus).rfind("FTP-GET ", 0) == 0 && Text(w.labStatus).find(" of 512.0 KiB") != std::string::npos;
  })) << Text(w.labStatus);
  EXPECT_TRUE(w.cbCancel->isVisible());
  QTest::mouseClick(w.cbCancel, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return !w.TransferRunning(); }));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET cancelled");
  EXPECT_EQ(Colour(w.cbGet), kRed);
  EXPECT_TRUE(m_oApp.messages.empty());
  std::ifstream in(Local("slow.bin"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(m_oLocal.Path()), fs::directory_iterator()), 1);
}

// A short put ends with its outcome alone: the status line never shows
// progress, and Cancel goes with the put.
TEST_F(Progress, AShortPutKeepsItsOutcomeText) {
  FtpTestServer server;
  WriteLocal("small.bin", 100000);
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  StartPut("small.bin");
  bool bProgressShown = false;
  ASSERT_TRUE(PumpUntil([&] {
    bProgressShown = bProgressShown || Text(w.labStatus).find(" of ") != std::string::npos;
    return Colour(w.cbPut) == kGreen || Colour(w.cbPut) == kRed;
  }));
  EXPECT_EQ(Colour(w.cbPut), kGreen);
  EXPECT_FALSE(bProgressShown);
  EXPECT_FALSE(w.cbCancel->isVisible());
  EXPECT_EQ(server.ReadFile("/small.bin"), std::string(100000, 'x'));
}

class AutoRunProgress : public Progress {
 protected:
  AutoRunProgress() { m_sCommandLine = "msg=x"; }
};

// An automatic run has no one to watch or cancel its transfers.
TEST_F(AutoRunProgress, AnAutomaticRunNeitherWatchesNorOffersCancel) {
  FtpTestServer server;
  WriteLocal("small.bin", 1000);
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  ASSERT_NE(w.FtpClient(), nullptr);
  EXPECT_FALSE(w.FtpClient()->ProgressEvent);
  StartPut("small.bin");
  EXPECT_FALSE(w.TransferRunning());
  EXPECT_FALSE(w.cbCancel->isVisible());
}

// The local folder holds two files, the remote list two more, as if listed.
class Choosing : public Progress {
 protected:
  void SetUp() override {
    WriteLocal("a.txt", 1);
    WriteLocal("b.txt", 1);
    Progress::SetUp();
    W().m_oFtpClient_DirEvent("r1.txt\r\nr2.txt\r\n", "", 0);
    W().tbFtpPath->setText("/");
    ASSERT_EQ(W().lbFtpFiles->count(), 2);
    ASSERT_EQ(W().lbLocalFiles->count(), 2);
  }
};

TEST_F(Choosing, TabThroughTheWindowChoosesNoFileButAnArrowKeyInAListDoes) {
  frmMain& w = W();
  const std::string sLocal = Text(w.tbLocalPath), sFtp = Text(w.tbFtpPath);
  w.tbFtpUrl->setFocus(Qt::TabFocusReason);
  std::vector<std::string> vsVisited;
  for (int i = 0; i < 25; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    vsVisited.push_back(QApplication::focusWidget()->objectName().toStdString());
    ASSERT_EQ(Text(w.tbLocalPath), sLocal) << "after Tab into " << vsVisited.back();
    ASSERT_EQ(Text(w.tbFtpPath), sFtp) << "after Tab into " << vsVisited.back();
  }
  EXPECT_NE(std::find(vsVisited.begin(), vsVisited.end(), "lbLocalFiles"), vsVisited.end());
  EXPECT_NE(std::find(vsVisited.begin(), vsVisited.end(), "lbFtpFiles"), vsVisited.end());

  for (QListWidget* p : {w.lbLocalFiles, w.lbFtpFiles}) {
    p->setFocus(Qt::TabFocusReason);
    QTest::keyClick(p, Qt::Key_End);
    ASSERT_EQ(p->currentRow(), 1) << p->objectName().toStdString();
  }
  EXPECT_EQ(Text(w.tbLocalPath), Local(ByteText_ToBytes(w.lbLocalFiles->item(1)->text())));
  EXPECT_EQ(Text(w.tbFtpPath), "/" + ByteText_ToBytes(w.lbFtpFiles->item(1)->text()));
  QTest::keyClick(w.lbFtpFiles, Qt::Key_Up);
  EXPECT_EQ(Text(w.tbFtpPath), "/" + ByteText_ToBytes(w.lbFtpFiles->item(0)->text()));
}

// A drag with the left button, as far as its release.
void Drag(QListWidget* pList, int iFrom, int iTo) {
  const QPoint oFrom = pList->visualItemRect(pList->item(iFrom)).center();
  const QPoint oTo = pList->visualItemRect(pList->item(iTo)).center();
  QTest::mousePress(pList->viewport(), Qt::LeftButton, Qt::NoModifier, oFrom);
  QTest::mouseMove(pList->viewport(), oTo);
  QTest::mouseRelease(pList->viewport(), Qt::LeftButton, Qt::NoModifier, oTo);
}

TEST_F(Choosing, ADragInAListChoosesTheEntryItEndsOn) {
  frmMain& w = W();
  Drag(w.lbFtpFiles, 0, 1);
  EXPECT_EQ(Text(w.tbFtpPath), "/" + ByteText_ToBytes(w.lbFtpFiles->item(1)->text()));

  // In the folder list, it lists the folder.
  fs::create_directory(Local("one"));
  fs::create_directory(Local("two"));
  std::ofstream(Local("two/inside two.txt")) << "2";
  w.dlb->SetPath(m_oLocal.Path());
  w.dlb_Click();
  const std::string sTwo = w.dlb->Path() + "/two";
  Drag(w.dlb, w.dlb->IndexOf(w.dlb->Path() + "/one"), w.dlb->IndexOf(sTwo));
  EXPECT_EQ(w.dlb->SelectedFolder(), sTwo);
  EXPECT_EQ(Entries(w.lbLocalFiles), std::vector<std::string>{"inside two.txt"});
  EXPECT_EQ(Text(w.tbLocalPath), sTwo + "/");
}

}  // namespace
