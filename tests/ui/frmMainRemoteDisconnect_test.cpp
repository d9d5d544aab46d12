// The window's FTP side against real pyftpdlib servers: disconnecting, and
// the window's close.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ByteText.h"
#include "CommandWindow.h"
#include "DirListBox.h"
#include "FtpTestServer.h"
#include "LibOrv.h"
#include "MainAndTerminate.h"
#include "OrvFtpClient.h"
#include "OrvFtpLibrary.h"
#include "QtAppUi.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "WidgetProbes.h"
#include "WindowPump.h"
#include "cApp.h"
#include "cSEC.h"
#include "cStringList.h"
#include "frmMain.h"

using namespace std::chrono_literals;
using namespace window_test;
namespace fs = std::filesystem;

namespace {

// After a disconnect nothing of the old connection reaches the window, and
// a new connection works as the first did. The server sends a file's data
// in pieces with pauses between (listings this short go at once), so the
// get is still under way when the disconnect comes, however the threads
// are scheduled.
TEST_F(RemoteWindow, DisconnectResetsTheRemoteSideAndDropsOutstandingResults) {
  FtpTestServer server(FtpTestServer::Options{.sKind = "trickle"});
  server.MakeFolder("/pub");
  server.MakeFolder("/pub/incoming");
  server.WriteFile("/pub/a.txt", std::string(16 * 1024, 'a'));
  server.WriteFile("/top.txt", "t");
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  ClickNode(w.tvFtpDirs, w.FtpNode("/pub"));
  ASSERT_TRUE(PumpUntil([&] { return w.FtpNode("/pub/incoming") != nullptr; }));
  w.tbLocalPath->setText(QString::fromStdString(Local("")));

  // A listing and a get are under way when the connection is dropped.
  ClickNode(w.tvFtpDirs, w.FtpNode("/pub/incoming"));
  w.tbFtpPath->setText("/pub/a.txt");
  w.cbGet->click();
  w.tbFtpPath->setText("/pub/incoming/");
  m_oApp.logs.clear();
  w.cbDisconnect->click();
  ASSERT_FALSE(m_oApp.logs.empty());
  EXPECT_EQ(m_oApp.logs[0].s, "FTP Disconnect");
  EXPECT_EQ(m_oApp.logs[0].eTyp, 24);
  ExpectDisconnected();
  EXPECT_EQ(Text(w.tbFtpPath), "/pub/incoming/");

  PumpFor(500ms);
  ExpectDisconnected();
  EXPECT_TRUE(m_oApp.messages.empty());
  EXPECT_FALSE(fs::exists(Local("a.txt")));
  for (const auto& line : m_oApp.logs) EXPECT_NE(line.s, "FTP-DIR OK");

  // Counted only now: the get's own connection may or may not have logged
  // in before the disconnect ended it.
  const std::size_t lLogins = static_cast<std::size_t>(server.LoginCount());
  ASSERT_TRUE(ConnectForOutcome(server));
  EXPECT_EQ(Text(w.labStatus), "FTP-DIR OK");
  EXPECT_EQ(Colour(w.cbConnect), kGreen);
  EXPECT_EQ(Children(w.FtpNode("ROOT")), std::vector<std::string>{"pub"});
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"top.txt"});
  EXPECT_EQ(static_cast<std::size_t>(server.LoginCount()), lLogins + 1);
  EXPECT_TRUE(m_oApp.messages.empty());
  EXPECT_EQ(FTP_SubscriberCnt(), 2) << "browsing and transfers";
}

TEST_F(RemoteWindow, DisconnectWhileConnectingToAMuteServer) {
  FtpTestServer::Options o;
  o.sKind = "never_answer";
  FtpTestServer server(o);
  W().SetFtpUrlText("127.0.0.1:" + server.PortText());
  W().cbConnect->click();
  PumpFor(100ms);
  EXPECT_EQ(Colour(W().cbConnect), kYellow);
  W().cbDisconnect->click();
  ExpectDisconnected();
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}

TEST_F(RemoteWindow, ClosingWhileEndingReleasesTheClient) {
  FtpTestServer server;
  ASSERT_TRUE(ConnectForOutcome(server));
  ASSERT_EQ(FTP_SubscriberCnt(), 2);
  m_oApp.SetStatus(2);
  EXPECT_TRUE(W().close());
  EXPECT_FALSE(W().isVisible());
  EXPECT_EQ(W().FtpClient(), nullptr);
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}

// The real program: a close while it runs stores the settings and ends the
// process; the death test runs in a process of its own.
TEST(WindowClose, ClosingWhileRunningStoresTheSettingsAndEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char kKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";
  const char* szFolder = std::getenv("ORV_CLOSE_TEST_FOLDER");
  std::optional<TempFolder> oFolder;
  std::string sFolder;
  if (szFolder) {
    sFolder = szFolder;
  } else {
    oFolder.emplace();
    sFolder = oFolder->Path();
    cStringList oSettings;
    oSettings.SetKey(kKey);
    oSettings.SetValue("ftpurl", "stored.example");
    oSettings.SetValue("ftpusr", "stored user");
    oSettings.SetValue("ftppwd", "stored pwd");
    oSettings.Store(sFolder + "/OrvFtpUploader.cfg");
    setenv("ORV_CLOSE_TEST_FOLDER", sFolder.c_str(), 1);
  }

  EXPECT_EXIT(
      {
        QtAppUi ui([] { return std::make_unique<frmMain>(""); });
        Main(ui, "", sFolder);
        ui.MainWindow().SetFtpUrlText("typed.example:2121");
        ui.MainWindow().CloseWindow();
      },
      ::testing::ExitedWithCode(0), "");
  unsetenv("ORV_CLOSE_TEST_FOLDER");

  std::string sPlain = LibOrv_ReadFile(sFolder + "/OrvFtpUploader.cfg");
  cSEC oSec;
  oSec.SetKey(kKey);
  ASSERT_TRUE(oSec.Decode(sPlain));
  EXPECT_EQ(sPlain, "ftpurl=typed.example:2121\r\nftpusr=stored user\r\nftppwd=stored pwd\r\n");

  std::vector<fs::path> vLogs;
  for (const auto& e : fs::directory_iterator(sFolder + "/log")) vLogs.push_back(e.path());
  ASSERT_EQ(vLogs.size(), 1u);
  const std::string sLog = LibOrv_ReadFile(vLogs[0].string());
  const std::string kEnd = ": terminated normally\r\n";
  const std::size_t p = sLog.find(kEnd);
  ASSERT_NE(p, std::string::npos) << sLog;
  EXPECT_EQ(sLog.size(), p + kEnd.size()) << "the shutdown runs once and is the last thing logged";
}

}  // namespace
