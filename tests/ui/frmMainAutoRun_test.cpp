// The automatic run of the real program when its connection is closed under
// it (the Disconnect button): the next step fails through a message like
// any other failure, and the run disconnects, keeps its alarm and ends.
#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "AppFolders.h"
#include "FtpTestServer.h"
#include "LibOrv.h"
#include "MainAndTerminate.h"
#include "OrvFtpLibrary.h"
#include "Outbox.h"
#include "QtAppUi.h"
#include "ShortWaits.h"
#include "TempFolder.h"
#include "frmMain.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr char kFolderVariable[] = "ORV_AUTORUN_TEST_FOLDER";
constexpr char kArgsVariable[] = "ORV_AUTORUN_TEST_ARGS";

// The program in the folder and with the command line the parent put into
// the environment: runs it, presses Disconnect once bDisconnectNow holds,
// and ends with status 3 should the run not end by itself.
[[noreturn]] void RunProgram(const std::function<bool(const frmMain&)>& bDisconnectNow) {
  const std::string sFolder = std::getenv(kFolderVariable);
  const std::string sArgs = std::getenv(kArgsVariable);
  QtAppUi ui([&] { return std::make_unique<frmMain>(sArgs, AppFolders_OutboxFolder(sFolder)); });
  Main(ui, sArgs, sFolder);
  auto& w = dynamic_cast<frmMain&>(ui.MainWindow());
  bool bDisconnected = false;
  for (const auto deadline = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < deadline;) {
    OrvFtpClientPump();
    QCoreApplication::processEvents();
    if (!bDisconnected && bDisconnectNow(w)) {
      w.cbDisconnect_Click();
      bDisconnected = true;
    }
    std::this_thread::sleep_for(2ms);
  }
  std::_Exit(3);
}

class AutoRunDisconnect : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The death test's process runs this test again up to the statement:
    // it finds the folder and the command line of the first one.
    if (const char* sz = std::getenv(kFolderVariable)) {
      m_sFolder = sz;
      return;
    }
    m_oFolder.emplace();
    m_sFolder = m_oFolder->Path();
    std::ofstream(m_sFolder + "/OrvFtpUploader.cfg").close();
    setenv(kFolderVariable, m_sFolder.c_str(), 1);
  }
  void TearDown() override {
    unsetenv(kFolderVariable);
    unsetenv(kArgsVariable);
  }

  void SetArgs(const std::string& sServerPort) {
    if (std::getenv(kArgsVariable)) return;
    const std::string sArgs = "ftpurl=127.0.0.1:" + sServerPort + " ftpusr=orvtest ftppwd=Pa55-w0rd! msg=x";
    setenv(kArgsVariable, sArgs.c_str(), 1);
  }

  // The run's log entries without their times.
  std::vector<std::string> Log() const {
    std::vector<std::string> vs;
    for (const auto& e : fs::directory_iterator(m_sFolder + "/log")) {
      const std::string s = LibOrv_ReadFile(e.path().string());
      for (std::size_t p = 0, q; (q = s.find("\r\n", p)) != std::string::npos; p = q + 2)
        vs.push_back(s.substr(p + 25, q - p - 25));
    }
    return vs;
  }

  void ExpectEndedWithAKeptAlarm(const std::string& sMessage) const {
    const std::vector<std::string> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), sMessage), log.end()) << ::testing::PrintToString(log);
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[log.size() - 3], "AutoStatus=end");
    EXPECT_EQ(log[log.size() - 2], "Outbox: 1 alarm kept");
    EXPECT_EQ(log.back(), "terminated normally");
    EXPECT_EQ(Outbox(AppFolders_OutboxFolder(m_sFolder)).AlarmNames().size(), 1u);
  }

  std::optional<TempFolder> m_oFolder;
  std::string m_sFolder;
};

TEST_F(AutoRunDisconnect, BeforeTheNextStepTheStepFailsAndTheRunEnds) {
  const ShortWaits shortWaits;
  std::optional<FtpTestServer> oServer;
  if (!std::getenv(kArgsVariable)) oServer.emplace();
  SetArgs(oServer ? oServer->PortText() : "");
  // Connected and listed; the message goes out with the next step.
  EXPECT_EXIT(RunProgram([](const frmMain& w) { return w.AutoStatus() == "sendmsg"; }), ::testing::ExitedWithCode(1),
              "");
  ExpectEndedWithAKeptAlarm("Warnhinweis von Modul 'FTP-PUT failed': Not connected\r");
}

TEST_F(AutoRunDisconnect, WhileTheRunWaitsForTheServerTheRunEnds) {
  const ShortWaits shortWaits;
  std::optional<FtpTestServer> oServer;
  if (!std::getenv(kArgsVariable)) oServer.emplace(FtpTestServer::Options{.sKind = "never_answer"});
  SetArgs(oServer ? oServer->PortText() : "");
  // Connect has asked for the first listing, which never comes.
  EXPECT_EXIT(RunProgram([](const frmMain& w) { return w.AutoStatus() == "connect" && !w.timAuto->isActive(); }),
              ::testing::ExitedWithCode(1), "");
  ExpectEndedWithAKeptAlarm(
      "Warnhinweis von Modul 'FTP Disconnect': The connection was closed before the server answered\r");
}

}  // namespace
