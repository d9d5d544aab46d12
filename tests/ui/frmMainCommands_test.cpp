// The commands on one remote entry (create folder, rename, size, delete)
// clicked in the window against the servers users run and pyftpdlib; what
// the window refuses before it sends anything; gets of any size.
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ByteText.h"
#include "CommandWindow.h"
#include "DirListBox.h"
#include "FileList.h"
#include "FtpTestServer.h"
#include "LibOrv.h"
#include "OrvFtpClient.h"
#include "OrvFtpLibrary.h"
#include "RealFtpServer.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "TwistedFtpServer.h"
#include "WidgetProbes.h"
#include "WindowPump.h"
#include "ctlSecurePwdEdit.h"
#include "frmMain.h"

using namespace std::chrono_literals;
using namespace window_test;
namespace fs = std::filesystem;

namespace {

class CommandsOnServer : public CommandWindow, public ::testing::WithParamInterface<Server> {
 protected:
  void TearDown() override {
    CommandWindow::TearDown();
    if (HasFailure() && m_pServer) std::cout << "server log:\n" << m_pServer->ServerLog() << "\n";
  }
  std::unique_ptr<LoopbackFtpServer> m_pServer;
};

TEST_P(CommandsOnServer, MakeRenameSizeAndDeleteChangeTheServerAndTheView) {
  m_pServer = StartServer(GetParam());
  const LoopbackFtpServer& server = *m_pServer;
  server.MakeFolder("/a");
  server.WriteFile("/a/x.txt", "twelve bytes");
  const std::int64_t lChanged = SetChangedTwoHoursAgo(server.LocalPath("/a/x.txt"));
  server.MakeFolder("/a/full");
  server.WriteFile("/a/full/keep.txt", "k");
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  ASSERT_NE(w.FtpNode("/a"), nullptr);
  w.tvFtpDirs->scrollToItem(w.FtpNode("/a"));
  QTest::mouseClick(w.tvFtpDirs->viewport(), Qt::LeftButton, Qt::NoModifier,
                    w.tvFtpDirs->visualItemRect(w.FtpNode("/a")).center());
  ASSERT_TRUE(PumpUntil([&] { return w.FtpNode("/a/full") != nullptr; }));
  ASSERT_EQ(Text(w.tbFtpPath), "/a/");
  // The file's size and time stand beside its name, in local time.
  ASSERT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(FileList_SizeText(w.lbFtpFiles->item(0)).toStdString(), "12 B");
  EXPECT_EQ(FileList_DateText(w.lbFtpFiles->item(0)),
            QDateTime::fromSecsSinceEpoch(lChanged).toString(QStringLiteral("yyyy-MM-dd HH:mm")));

  w.tbFtpText->setText("new");
  ASSERT_TRUE(RunListed(w.cbMkDir, "FTP-MKDIR OK"));
  EXPECT_TRUE(Logged("FTP MkDir /a/new"));
  EXPECT_TRUE(fs::is_directory(server.LocalPath("/a/new")));
  ASSERT_NE(w.FtpNode("/a/new"), nullptr);
  EXPECT_EQ(w.FtpNode("/a/new")->parent(), w.FtpNode("/a"));
  EXPECT_EQ(Colour(w.cbMkDir), kGreen);

  w.tbFtpPath->setText("/a/x.txt");
  w.tbFtpText->setText("y z.txt");
  ASSERT_TRUE(RunListed(w.cbReName, "FTP-RENAME OK"));
  EXPECT_TRUE(Logged("FTP Rename /a/x.txt -> y z.txt"));
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"y z.txt"});
  EXPECT_EQ(server.ReadFile("/a/y z.txt"), "twelve bytes");
  EXPECT_FALSE(fs::exists(server.LocalPath("/a/x.txt")));
  EXPECT_EQ(Colour(w.cbReName), kGreen);
  EXPECT_EQ(Text(w.tbFtpPath), "/a/y z.txt") << "the path names the file by its new name";

  // A path ending with "/" renames the folder; its node goes under the new
  // name, with the path.
  w.tbFtpPath->setText("/a/new/");
  w.tbFtpText->setText("newer");
  ASSERT_TRUE(RunListed(w.cbReName, "FTP-RENAME OK"));
  EXPECT_TRUE(fs::is_directory(server.LocalPath("/a/newer")));
  EXPECT_FALSE(fs::exists(server.LocalPath("/a/new")));
  EXPECT_EQ(w.FtpNode("/a/new"), nullptr);
  ASSERT_NE(w.FtpNode("/a/newer"), nullptr);
  EXPECT_EQ(w.FtpNode("/a/newer")->parent(), w.FtpNode("/a"));
  EXPECT_EQ(Text(w.tbFtpPath), "/a/newer/");
  w.tbFtpPath->setText("/a/y z.txt");

  w.tbFtpPath->setText("/a/y z.txt");
  w.cbSize->click();
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus).rfind("FTP-SIZE", 0) == 0; }));
  EXPECT_EQ(Text(w.labStatus), "FTP-SIZE OK: /a/y z.txt 12 bytes");
  EXPECT_TRUE(Logged("FTP-SIZE OK: /a/y z.txt 12 bytes"));
  EXPECT_EQ(Colour(w.cbSize), kGreen);

  m_oApp.bAnswer = true;
  ASSERT_TRUE(RunListed(w.cbDelete, "FTP-DELETE OK"));
  ASSERT_EQ(m_oApp.questions.size(), 1u);
  EXPECT_NE(m_oApp.questions[0].sText.find("/a/y z.txt"), std::string::npos) << m_oApp.questions[0].sText;
  EXPECT_TRUE(Logged("FTP Delete /a/y z.txt"));
  EXPECT_FALSE(fs::exists(server.LocalPath("/a/y z.txt")));
  EXPECT_TRUE(Entries(w.lbFtpFiles).empty());
  EXPECT_EQ(Text(w.tbFtpPath), "/a/") << "the path names what is left";

  // An empty folder, named with its closing "/", leaves the tree too.
  w.tbFtpPath->setText("/a/newer/");
  ASSERT_TRUE(RunListed(w.cbDelete, "FTP-DELETE OK"));
  EXPECT_TRUE(Logged("FTP Delete /a/newer/"));
  EXPECT_FALSE(fs::exists(server.LocalPath("/a/newer")));
  EXPECT_EQ(w.FtpNode("/a/newer"), nullptr);
  EXPECT_NE(w.FtpNode("/a/full"), nullptr);
  EXPECT_TRUE(m_oApp.messages.empty());

  // The server's refusals change nothing there; a rename onto a folder's
  // name is refused at RNTO, after the server took RNFR.
  server.WriteFile("/a/x.txt", "twelve bytes");
  w.tbFtpPath->setText("/a/x.txt");
  w.tbFtpText->setText("full");
  ExpectRefused(w.cbReName, "FTP-RENAME");
  EXPECT_EQ(server.ReadFile("/a/x.txt"), "twelve bytes");
  EXPECT_EQ(Text(w.tbFtpPath), "/a/x.txt");
  fs::remove(server.LocalPath("/a/x.txt"));
  w.tbFtpPath->setText("/gone/x.txt");
  w.tbFtpText->setText("y.txt");
  ExpectRefused(w.cbReName, "FTP-RENAME");
  w.tbFtpPath->setText("/a/gone.txt");
  ExpectRefused(w.cbDelete, "FTP-DELETE");
  w.tbFtpPath->setText("/a/full/");
  ExpectRefused(w.cbDelete, "FTP-DELETE");
  EXPECT_EQ(server.ReadFile("/a/full/keep.txt"), "k");
  EXPECT_EQ(w.FtpNode("/a/full")->parent(), w.FtpNode("/a"));
  w.tbFtpPath->setText("/a/gone.txt");
  ExpectRefused(w.cbSize, "FTP-SIZE");
  w.tbFtpPath->setText("/a/");
  w.tbFtpText->setText("full");
  ExpectRefused(w.cbMkDir, "FTP-MKDIR");
  std::vector<std::string> vsLeft;
  for (const auto& e : fs::recursive_directory_iterator(server.LocalPath("/a")))
    vsLeft.push_back(fs::relative(e.path(), server.LocalPath("/a")).string());
  EXPECT_EQ(Sorted(vsLeft), (std::vector<std::string>{"full", "full/keep.txt"}));
}

INSTANTIATE_TEST_SUITE_P(AllServers, CommandsOnServer,
                         ::testing::Values(Server::kVsftpd, Server::kProftpd, Server::kPureFtpd, Server::kPyftpdlib,
                                           Server::kTwisted),
                         [](const ::testing::TestParamInfo<Server>& info) { return ServerName(info.param); });

// Fields the commands cannot take are refused with a message, and a delete
// answered No is not made: nothing reaches the server.
TEST_F(CommandWindow, RefusedInputAndADeleteAnsweredNoSendNothing) {
  FtpTestServer server;
  server.MakeFolder("/a");
  server.WriteFile("/a/x.txt", "x");
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  struct Case {
    QPushButton* pButton;
    std::string sPath, sText, sModule, sMsg;
  };
  const std::string kMkDir = "Create Directory on FTP server", kRename = "Rename file on FTP server";
  const std::vector<Case> vCases = {
      {w.cbMkDir, "/a/", "", kMkDir, "No name given for the new directory"},
      {w.cbMkDir, "", "new", kMkDir, "No folder selected to create the directory in"},
      {w.cbMkDir, "/a/", "b/c", kMkDir, "A name must not hold \"/\": b/c"},
      {w.cbMkDir, "/a/", "b\r\nDELE x.txt", kMkDir, "A name must not hold a line break"},
      {w.cbMkDir, "/a/", "..", kMkDir, "Not a name of an entry of its own: .."},
      {w.cbReName, "/a/x.txt", "../y.txt", kRename, "A name must not hold \"/\": ../y.txt"},
      {w.cbReName, "/a/x.txt", "y\n.txt", kRename, "A name must not hold a line break"},
      {w.cbReName, "/a/x.txt", "y\r.txt", kRename, "A name must not hold a line break"},
      {w.cbReName, "/a/x.txt", ".", kRename, "Not a name of an entry of its own: ."},
      {w.cbReName, "/a/x.txt", "", kRename, "No new name given for the file"},
      {w.cbReName, "/", "y.txt", kRename, "The root folder cannot be renamed"},
      {w.cbReName, "", "y.txt", kRename, "No file selected to rename"},
      {w.cbSize, "/a/", "", "Get file size on FTP server", "No file selected to get the size of"},
      {w.cbDelete, "", "", "Delete on FTP server", "No file selected to delete"},
      {w.cbDelete, "/", "", "Delete on FTP server", "The root folder cannot be deleted"},
  };
  const std::string sStatus = Text(w.labStatus);
  for (const Case& c : vCases) {
    SCOPED_TRACE(c.sMsg);
    m_oApp.messages.clear();
    w.tbFtpPath->setText(ByteText_FromBytes(c.sPath));
    w.tbFtpText->setText(ByteText_FromBytes(c.sText));
    c.pButton->click();
    ASSERT_EQ(m_oApp.messages.size(), 1u);
    EXPECT_EQ(m_oApp.messages[0].m, 2);
    EXPECT_EQ(m_oApp.messages[0].sModule, c.sModule);
    EXPECT_EQ(m_oApp.messages[0].sMsg, c.sMsg);
    EXPECT_EQ(Colour(c.pButton), ButtonFace());
  }
  EXPECT_TRUE(m_oApp.questions.empty());

  // No is the answer RecordingApp gives.
  m_oApp.messages.clear();
  for (const char* szPath : {"/a/x.txt", "/a/"}) {
    w.tbFtpPath->setText(szPath);
    w.cbDelete->click();
  }
  ASSERT_EQ(m_oApp.questions.size(), 2u);
  EXPECT_EQ(m_oApp.questions[0].sText, "Delete /a/x.txt on the FTP server?");
  EXPECT_EQ(m_oApp.questions[1].sText, "Delete the folder /a/ on the FTP server?");
  PumpUntil([] { return false; }, 300ms);
  EXPECT_TRUE(m_oApp.messages.empty());
  EXPECT_EQ(Text(w.labStatus), sStatus);
  EXPECT_EQ(server.ReadFile("/a/x.txt"), "x");
  for (const std::string& s : server.Commands()) {
    for (const char* szCommand : {"MKD", "RNFR", "RNTO", "DELE", "RMD", "SIZE"})
      EXPECT_NE(s.rfind(szCommand, 0), 0u) << s;
  }
}

// A get onto an existing local file, and a put onto a file the remote list
// shows, ask first; No writes and sends nothing, Yes replaces.
TEST_F(CommandWindow, ReplacingAFileAsksFirstAndNoSendsNothing) {
  FtpTestServer server;
  server.WriteFile("/x.txt", "remote");
  LibOrv_WriteFile("local", Local("x.txt"));
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  auto Count = [&](const std::string& sPrefix) {
    const std::vector<std::string> vs = server.Commands();
    return std::count_if(vs.begin(), vs.end(), [&](const std::string& s) { return s.rfind(sPrefix, 0) == 0; });
  };
  for (const bool bYes : {false, true}) {
    SCOPED_TRACE(bYes ? "Yes" : "No");
    m_oApp.bAnswer = bYes;
    m_oApp.questions.clear();
    const auto lRetr = Count("RETR"), lStor = Count("STOR");
    w.tbLocalPath->setText(ByteText_FromBytes(m_oLocal.Path() + "/"));
    w.tbFtpPath->setText("/x.txt");
    w.labStatus->clear();
    w.cbGet->click();
    ASSERT_EQ(m_oApp.questions.size(), 1u);
    EXPECT_EQ(m_oApp.questions[0].sText, "x.txt already exists in " + m_oLocal.Path() + ". Replace it?");
    if (bYes) ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus).rfind("FTP-GET OK", 0) == 0; }));
    else PumpFor(300ms);
    EXPECT_EQ(LibOrv_ReadFile(Local("x.txt")), bYes ? "remote" : "local");
    EXPECT_EQ(Count("RETR"), lRetr + (bYes ? 1 : 0));

    LibOrv_WriteFile(bYes ? "local 2" : "local", Local("x.txt"));
    w.tbLocalPath->setText(ByteText_FromBytes(Local("x.txt")));
    w.tbFtpPath->setText("/");
    w.labStatus->clear();
    w.cbPut->click();
    ASSERT_EQ(m_oApp.questions.size(), 2u);
    EXPECT_EQ(m_oApp.questions[1].sText, "x.txt already exists in /. Replace it?");
    if (bYes) ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus) == "FTP-DIR OK"; }));
    else PumpFor(300ms);
    EXPECT_EQ(server.ReadFile("/x.txt"), bYes ? "local 2" : "remote");
    EXPECT_EQ(Count("STOR"), lStor + (bYes ? 1 : 0));
  }
  EXPECT_TRUE(m_oApp.messages.empty());
}

// A get larger than memory would want arrives byte for byte; one broken off
// half-way leaves the old local file as it was and nothing beside it.
TEST_F(CommandWindow, GetsOfAnySizeReplaceTheLocalFileOnlyWhenWhole) {
  // Progress ("FTP-GET 1.0 MiB of ...") may show while the get runs.
  auto GetEnded = [](const std::string& s) {
    return s.rfind("FTP-GET OK", 0) == 0 || s.rfind("FTP-GET failed", 0) == 0;
  };
  FtpTestServer server;
  const std::string sBig = RandomBytes(20 * 1024 * 1024, 7);
  server.WriteFile("/big.bin", sBig);
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  w.tbLocalPath->setText(ByteText_FromBytes(m_oLocal.Path() + "/"));
  w.tbFtpPath->setText("/big.bin");
  w.cbGet->click();
  ASSERT_TRUE(PumpUntil([&] { return GetEnded(Text(w.labStatus)); }, 60s));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("big.bin"));
  EXPECT_TRUE(Logged("FTP-GET OK: " + Local("big.bin")));
  EXPECT_EQ(Colour(w.cbGet), kGreen);
  EXPECT_TRUE(LibOrv_ReadFile(Local("big.bin")) == sBig);
  EXPECT_EQ(Entries(w.lbLocalFiles), std::vector<std::string>{"big.bin"});
  w.cbDisconnect->click();

  FtpTestServer::Options o;
  o.sKind = "drop_data";
  FtpTestServer dropping(o);
  dropping.WriteFile("/big.bin", RandomBytes(300 * 1024, 8));
  ASSERT_TRUE(Connect(dropping));
  m_oApp.bAnswer = true;  // replace the local file
  w.tbLocalPath->setText(ByteText_FromBytes(m_oLocal.Path() + "/"));
  w.tbFtpPath->setText("/big.bin");
  w.labStatus->clear();
  w.cbGet->click();
  // The broken-off transfer is tried again before it fails.
  ASSERT_TRUE(PumpUntil([&] { return GetEnded(Text(w.labStatus)); }, 60s));
  EXPECT_EQ(Text(w.labStatus).rfind("FTP-GET failed: Error ", 0), 0u) << Text(w.labStatus);
  EXPECT_EQ(Colour(w.cbGet), kRed);
  ASSERT_FALSE(m_oApp.messages.empty());
  EXPECT_EQ(m_oApp.messages.back().sModule, "FTP-GET failed");
  EXPECT_TRUE(LibOrv_ReadFile(Local("big.bin")) == sBig);
  EXPECT_EQ(LocalNames(), std::vector<std::string>{"big.bin"}) << "no temporary file is left";
}

// Enter in the password field connects; Enter in the path lists that folder
// or picks that file in it; the arrow keys in the remote tree list the
// folder they stop on.
TEST_F(CommandWindow, EnterConnectsAndListsAndTheTreesArrowKeysListTheFolder) {
  FtpTestServer server;
  server.MakeFolder("/a");
  server.MakeFolder("/b");
  server.WriteFile("/a/in a.txt", "a");
  server.WriteFile("/b/in b.txt", "b");
  server.WriteFile("/top.txt", "t");
  frmMain& w = W();
  w.SetFtpUrlText("127.0.0.1:" + server.PortText());
  w.SetFtpUsrText(server.User());
  w.SetFtpPwdText(server.Password());
  auto* pPwd = w.tbFtpPwd->findChild<QLineEdit*>("tb");
  ASSERT_NE(pPwd, nullptr);
  QTest::keyClick(pPwd, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus) == "FTP-DIR OK"; }));
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"top.txt"});
  // Enter again while connected does not connect once more.
  QTest::keyClick(w.tbFtpUrl, Qt::Key_Return);
  PumpFor(200ms);
  const std::vector<std::string> vsCommands = server.Commands();
  EXPECT_EQ(
      std::count_if(vsCommands.begin(), vsCommands.end(), [](const std::string& s) { return s.rfind("USER", 0) == 0; }),
      1);
  ASSERT_NE(w.FtpNode("/b"), nullptr);

  w.tbFtpPath->setText("/b/in b.txt");
  QTest::keyClick(w.tbFtpPath, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"in b.txt"}; }));
  ASSERT_NE(w.lbFtpFiles->currentItem(), nullptr);
  EXPECT_EQ(Text(w.tbFtpPath), "/b/in b.txt");
  EXPECT_EQ(w.tvFtpDirs->currentItem(), w.FtpNode("/b"));

  // From the root down to the first folder, whichever the server listed
  // first, and on to the other.
  w.tvFtpDirs->setFocus();
  w.tvFtpDirs->setCurrentItem(w.FtpNode("ROOT"));
  PumpFor(500ms);
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"in b.txt"}) << "a selection by the program lists nothing";
  QTest::keyClick(w.tvFtpDirs, Qt::Key_Down);
  const std::string sFirst = frmMain::FtpNodeKey(w.tvFtpDirs->currentItem());
  ASSERT_TRUE(sFirst == "/a" || sFirst == "/b") << sFirst;
  const std::string sOther = sFirst == "/a" ? "/b" : "/a";
  QTest::keyClick(w.tvFtpDirs, Qt::Key_Down);
  ASSERT_EQ(frmMain::FtpNodeKey(w.tvFtpDirs->currentItem()), sOther);
  ASSERT_TRUE(
      PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"in " + sOther.substr(1) + ".txt"}; }));
  EXPECT_EQ(Text(w.tbFtpPath), sOther + "/");
  EXPECT_TRUE(m_oApp.messages.empty());
}

// A click of any button that highlights a row or folder picks it, as the
// left one does; while a folder's listing is on its way, the file list is
// empty, so nothing of the folder before can be picked with the new path.
TEST_F(CommandWindow, ARightClickPicksWhatItHighlightsAndAPendingListingOffersNoOldFiles) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "trickle"});
  server.MakeFolder("/a");
  server.WriteFile("/a/in a.txt", "a");
  server.WriteFile("/top.txt", "t");
  fs::create_directory(Local("sub"));
  LibOrv_WriteFile("s", Local("sub/s.txt"));
  LibOrv_WriteFile("l", Local("l.txt"));
  frmMain& w = W();
  w.dlb->SetPath(m_oLocal.Path());
  w.dlb_Click();
  ASSERT_TRUE(Connect(server));
  auto RightClick = [](QAbstractItemView* pView, const QRect& oRect) {
    QTest::mouseClick(pView->viewport(), Qt::RightButton, Qt::NoModifier, oRect.center());
  };
  auto Row = [](QListWidget* pList, const std::string& sText) {
    const QList<QListWidgetItem*> v = pList->findItems(ByteText_FromBytes(sText), Qt::MatchExactly);
    return v.isEmpty() ? nullptr : v.front();
  };

  ASSERT_NE(Row(w.lbFtpFiles, "top.txt"), nullptr);
  w.tbFtpPath->setText("/");
  RightClick(w.lbFtpFiles, w.lbFtpFiles->visualItemRect(Row(w.lbFtpFiles, "top.txt")));
  EXPECT_EQ(Text(w.tbFtpPath), "/top.txt");
  ASSERT_NE(Row(w.lbLocalFiles, "l.txt"), nullptr);
  RightClick(w.lbLocalFiles, w.lbLocalFiles->visualItemRect(Row(w.lbLocalFiles, "l.txt")));
  EXPECT_EQ(Text(w.tbLocalPath), Local("l.txt"));

  ASSERT_NE(w.FtpNode("/a"), nullptr);
  RightClick(w.tvFtpDirs, w.tvFtpDirs->visualItemRect(w.FtpNode("/a")));
  EXPECT_EQ(Text(w.tbFtpPath), "/a/");
  EXPECT_EQ(w.lbFtpFiles->count(), 0) << "the root's files are gone while /a is listed";
  EXPECT_EQ(Text(w.labFtpFileCnt), "\xE2\x80\xA6 files");
  ASSERT_TRUE(PumpUntil([&] { return Text(w.labStatus) == "FTP-DIR OK" && w.lbFtpFiles->count() == 1; }));
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"in a.txt"});
  EXPECT_EQ(Text(w.labFtpFileCnt), "1 files");

  const int iSub = w.dlb->IndexOf(Local("sub"));
  ASSERT_GE(iSub, 0);
  RightClick(w.dlb, w.dlb->visualItemRect(w.dlb->item(iSub)));
  EXPECT_EQ(Entries(w.lbLocalFiles), std::vector<std::string>{"s.txt"});
  EXPECT_EQ(Text(w.tbLocalPath), Local("sub") + "/");
  EXPECT_TRUE(m_oApp.messages.empty());
}

}  // namespace
