// The window's FTP side against real pyftpdlib servers: putting files and
// the servers' refusals of them.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

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
#include "LibOrv.h"
#include "OrvFtpClient.h"
#include "OrvFtpLibrary.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "WidgetProbes.h"
#include "WindowPump.h"
#include "frmMain.h"

using namespace std::chrono_literals;
using namespace window_test;
namespace fs = std::filesystem;

namespace {

TEST_F(RemoteWindow, PutSendsTheLocalFileUnderItsOwnNameAndListsTheFolderAgain) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  server.WriteFile("/pub/readme.txt", "r");
  const std::string sData = RandomBytes(300000, 4);
  WriteLocal(Local("upload me.bin"), sData);
  W().dlb_Click();
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  ClickNode(w.tvFtpDirs, w.FtpNode("/pub"));
  ASSERT_TRUE(PumpUntil([&] { return w.lbFtpFiles->count() == 1; }));
  ClickRow(w.lbFtpFiles, "readme.txt");
  ClickRow(w.lbLocalFiles, "upload me.bin");
  ASSERT_EQ(Text(w.tbFtpPath), "/pub/readme.txt");
  ASSERT_EQ(Text(w.tbLocalPath), Local("upload me.bin"));
  m_oApp.logs.clear();

  w.cbPut->click();
  // The new listing may follow within the same delivery round, so the put's
  // own status text can already be replaced: the log and colour tell.
  ASSERT_TRUE(PumpUntil([&] { return Colour(w.cbPut) == kGreen || Colour(w.cbPut) == kRed; }));
  EXPECT_EQ(Colour(w.cbPut), kGreen);
  EXPECT_TRUE(
      std::any_of(m_oApp.logs.begin(), m_oApp.logs.end(), [](const auto& line) { return line.s == "FTP-PUT OK"; }));
  EXPECT_EQ(server.ReadFile("/pub/upload me.bin"), sData);
  EXPECT_EQ(server.ReadFile("/pub/readme.txt"), "r");
  // The new listing of the folder shows the new file.
  ASSERT_TRUE(PumpUntil([&] { return w.lbFtpFiles->count() == 2; }));
  EXPECT_EQ(Sorted(Entries(w.lbFtpFiles)), (std::vector<std::string>{"readme.txt", "upload me.bin"}));
  EXPECT_EQ(Text(w.labStatus), "FTP-DIR OK");
  EXPECT_TRUE(m_oApp.messages.empty());
  ASSERT_GE(m_oApp.logs.size(), 2u);
  EXPECT_EQ(m_oApp.logs.front().s, "FTP Put " + Local("upload me.bin"));
  EXPECT_TRUE(std::any_of(m_oApp.logs.begin(), m_oApp.logs.end(),
                          [](const auto& l) { return l.s == "FTP-PUT OK" && l.eTyp == 24; }));
}

// A remote name holding "\\" is one name: a put beside it goes into its
// folder, under the local file's name, and nowhere else.
TEST_F(RemoteWindow, PutBesideARemoteNameWithBackslashesStaysInItsFolder) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  server.WriteFile("/pub/back\\..\\..\\evilbs", "r");
  WriteLocal(Local("cam.bin"), "data");
  W().dlb_Click();
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  ClickNode(w.tvFtpDirs, w.FtpNode("/pub"));
  ASSERT_TRUE(PumpUntil([&] { return w.lbFtpFiles->count() == 1; }));
  ClickRow(w.lbFtpFiles, "back\\..\\..\\evilbs");
  ClickRow(w.lbLocalFiles, "cam.bin");
  ASSERT_EQ(Text(w.tbFtpPath), "/pub/back\\..\\..\\evilbs");
  w.cbPut->click();
  ASSERT_TRUE(PumpUntil([&] { return Colour(w.cbPut) == kGreen || Colour(w.cbPut) == kRed; }));
  EXPECT_EQ(Colour(w.cbPut), kGreen);
  EXPECT_EQ(server.ReadFile("/pub/cam.bin"), "data");
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                          [](const std::string& s) { return s.find('\\') != std::string::npos; }),
            0);
}

TEST_F(RemoteWindow, PutOfALargeFileSendsItWholeEvenWhenItIsRemovedAfterTheClick) {
  FtpTestServer server;
  // Larger than what the command reads at once: the rest is read while it
  // is sent, from the file opened at the click.
  const std::string sData = RandomBytes(3 * 1048576 + 12345, 9);
  WriteLocal(Local("video.bin"), sData);
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  w.tbFtpPath->setText("/");
  w.tbLocalPath->setText(QString::fromStdString(Local("video.bin")));
  w.cbPut->click();
  fs::remove(Local("video.bin"));
  ASSERT_TRUE(PumpUntil([&] { return Colour(w.cbPut) == kGreen || Colour(w.cbPut) == kRed; }));
  EXPECT_EQ(Colour(w.cbPut), kGreen);
  EXPECT_TRUE(server.ReadFile("/video.bin") == sData);
  EXPECT_TRUE(m_oApp.messages.empty());
}

TEST_F(RemoteWindow, PutRefusesWhatItCannotSend) {
  FtpTestServer server;
  WriteLocal(Local("empty.txt"), "");
  WriteLocal(Local(".hidden"), "hidden");
  fs::create_directory(Local("sub"));
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  w.tbFtpPath->setText("/");

  struct Case {
    std::string sLocalPath;
    long m;
    std::string sMsg;
  };
  const std::vector<Case> vCases = {
      {Local(""), 2, "No file selected to put"},
      {Local("gone.txt"), 2, "File doesnt exist: " + Local("gone.txt")},
      {Local(".hidden"), 2, "File doesnt exist: " + Local(".hidden")},
      {Local("sub"), 2, "File doesnt exist: " + Local("sub")},
      {Local("empty.txt"), 1, "File contains no data: " + Local("empty.txt")},
  };
  for (const Case& c : vCases) {
    SCOPED_TRACE(c.sLocalPath);
    m_oApp.messages.clear();
    w.labStatus->setText("unchanged");
    w.tbLocalPath->setText(QString::fromStdString(c.sLocalPath));
    w.cbPut->click();
    ASSERT_EQ(m_oApp.messages.size(), 1u);
    EXPECT_EQ(m_oApp.messages[0].m, c.m);
    EXPECT_EQ(m_oApp.messages[0].sModule, "Put file to FTP server");
    EXPECT_EQ(m_oApp.messages[0].sMsg, c.sMsg);
    EXPECT_EQ(Text(w.labStatus), "unchanged");
    EXPECT_EQ(Colour(w.cbPut), ButtonFace());
  }
  PumpFor(300ms);
  EXPECT_FALSE(HasCommand(server, "STOR")) << "nothing is sent";
  EXPECT_EQ(Text(w.labStatus), "unchanged");
}

TEST_F(RemoteWindow, PutsTheServerRefusesTurnPutRed) {
  for (const auto& [sKind, lCode] : std::vector<std::pair<std::string, long>>{{"stor_553", 553}, {"stor_552", 552}}) {
    SCOPED_TRACE(sKind);
    FtpTestServer::Options o;
    o.sKind = sKind;
    FtpTestServer server(o);
    WriteLocal(Local("alarm.jpg"), "jpeg");
    ASSERT_TRUE(ConnectForOutcome(server));
    frmMain& w = W();
    w.tbFtpPath->setText("/");
    w.tbLocalPath->setText(QString::fromStdString(Local("alarm.jpg")));
    m_oApp.messages.clear();
    w.cbPut->click();
    ASSERT_TRUE(WaitForStatus("FTP-PUT"));
    const std::string sError = "Error " + std::to_string(lCode);
    EXPECT_EQ(Text(w.labStatus), "FTP-PUT failed: " + sError);
    EXPECT_EQ(Colour(w.cbPut), kRed);
    ASSERT_EQ(m_oApp.messages.size(), 1u);
    EXPECT_EQ(m_oApp.messages[0].m, 1);
    EXPECT_EQ(m_oApp.messages[0].sModule, "FTP-PUT failed");
    EXPECT_EQ(m_oApp.messages[0].sMsg, sError);
    // The server's reply, under the text.
    EXPECT_NE(m_oApp.messages[0].sAddInfo.find(std::to_string(lCode) + " "), std::string::npos)
        << m_oApp.messages[0].sAddInfo;
    // No new listing follows a failed put.
    PumpFor(200ms);
    EXPECT_EQ(Text(w.labStatus), "FTP-PUT failed: " + sError);
    EXPECT_EQ(Colour(w.cbConnect), kGreen);
    w.cbDisconnect->click();
  }
}

}  // namespace
