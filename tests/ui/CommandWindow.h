#pragma once

// The window tests' fixture against a real server: a loaded, visible window
// with a local folder of its own, the FTP library running and a recording
// application, and the ways a test connects, clicks and checks.
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "DirListBox.h"
#include "FtpTestServer.h"
#include "OrvFtpClient.h"
#include "RealFtpServer.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "TwistedFtpServer.h"
#include "WidgetProbes.h"
#include "WindowPump.h"
#include "frmMain.h"

namespace window_test {

namespace fs = std::filesystem;

enum class Server { kVsftpd, kProftpd, kPureFtpd, kPyftpdlib, kTwisted };

inline std::string ServerName(Server eServer) {
  switch (eServer) {
    case Server::kVsftpd: return "vsftpd";
    case Server::kProftpd: return "proftpd";
    case Server::kPureFtpd: return "pureftpd";
    case Server::kPyftpdlib: return "pyftpdlib";
    case Server::kTwisted: return "twisted";
  }
  return "?";
}

// For the parameters CTest shows beside each test.
inline void PrintTo(Server eServer, std::ostream* os) { *os << ServerName(eServer); }

inline std::unique_ptr<LoopbackFtpServer> StartServer(Server eServer) {
  switch (eServer) {
    case Server::kVsftpd:
      return std::make_unique<RealFtpServer>(RealFtpServer::Product::kVsftpd, RealFtpServer::Tls::kNone);
    case Server::kProftpd:
      return std::make_unique<RealFtpServer>(RealFtpServer::Product::kProftpd, RealFtpServer::Tls::kNone);
    case Server::kPureFtpd:
      return std::make_unique<RealFtpServer>(RealFtpServer::Product::kPureFtpd, RealFtpServer::Tls::kNone);
    case Server::kPyftpdlib: return std::make_unique<FtpTestServer>();
    case Server::kTwisted: return std::make_unique<TwistedFtpServer>();
  }
  return nullptr;
}

inline std::string RandomBytes(std::size_t n, unsigned uSeed) {
  std::mt19937 gen(uSeed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

inline std::vector<std::string> Sorted(std::vector<std::string> vs) {
  std::sort(vs.begin(), vs.end());
  return vs;
}

// Sets the file's time of change to a whole minute two hours ago, which
// every listing form tells to the minute; returns it.
inline std::int64_t SetChangedTwoHoursAgo(const std::string& sPath) {
  const std::int64_t lWhen = (QDateTime::currentSecsSinceEpoch() - 7200) / 60 * 60;
  const auto tWhen = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(lWhen)));
  fs::last_write_time(sPath, tWhen);
  return lWhen;
}

// A loaded, visible window with a local folder of its own, the FTP library
// running and a recording application.
class CommandWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    FTP_Init();
    m_pWindow = std::make_unique<frmMain>();
    m_pWindow->Load();
    m_pWindow->dlb->SetPath(m_oLocal.Path());
    m_pWindow->dlb_Click();
    m_pWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pWindow.get()));
  }
  void TearDown() override {
    m_pWindow.reset();
    FTP_Shutdown();
  }

  frmMain& W() { return *m_pWindow; }
  std::string Local(const std::string& sName) const { return m_oLocal.Path() + "/" + sName; }
  std::vector<std::string> LocalNames() const {
    std::vector<std::string> vs;
    for (const auto& e : fs::directory_iterator(m_oLocal.Path())) vs.push_back(e.path().filename().string());
    return Sorted(vs);
  }

  bool Connect(const LoopbackFtpServer& server) {
    W().SetFtpUrlText("127.0.0.1:" + server.PortText());
    W().SetFtpUsrText(server.User());
    W().SetFtpPwdText(server.Password());
    W().cbConnect->click();
    return PumpUntil([this] { return Text(W().labStatus) == "FTP-DIR OK"; });
  }
  bool Logged(const std::string& s) const {
    return std::any_of(m_oApp.logs.begin(), m_oApp.logs.end(),
                       [&](const RecordingApp::LogLine& l) { return l.s == s && l.eTyp == 24; });
  }
  // Clicks the button and waits until the command's success is logged and
  // the listing that follows it has arrived.
  bool RunListed(QPushButton* pButton, const std::string& sOk) {
    m_oApp.logs.clear();
    pButton->click();
    return PumpUntil([&] { return Logged(sOk) && Text(W().labStatus) == "FTP-DIR OK"; });
  }
  // Clicks the button and checks the command's failure as the server's
  // refusal: the status line, the message and the red button.
  void ExpectRefused(QPushButton* pButton, const std::string& sCommand) {
    m_oApp.messages.clear();
    W().labStatus->clear();
    pButton->click();
    ASSERT_TRUE(PumpUntil([&] { return !Text(W().labStatus).empty(); }));
    const std::string sStatus = Text(W().labStatus);
    const std::string sPrefix = sCommand + " failed: Error ";
    ASSERT_EQ(sStatus.rfind(sPrefix, 0), 0u) << sStatus;
    const long lCode = std::stol(sStatus.substr(sPrefix.size()));
    EXPECT_TRUE(lCode >= 400 && lCode < 600) << sStatus;
    EXPECT_FALSE(W().labStatus->toolTip().isEmpty()) << "the server's reply tells why";
    ASSERT_EQ(m_oApp.messages.size(), 1u);
    EXPECT_EQ(m_oApp.messages[0].m, 1);
    EXPECT_EQ(m_oApp.messages[0].sModule, sCommand + " failed");
    EXPECT_EQ(m_oApp.messages[0].sMsg, "Error " + std::to_string(lCode));
    // The server's reply tells why, under the text.
    EXPECT_NE(m_oApp.messages[0].sAddInfo.find(std::to_string(lCode) + " "), std::string::npos)
        << m_oApp.messages[0].sAddInfo;
    EXPECT_EQ(Colour(pButton), kRed);
  }

  RecordingApp m_oApp{1};
  TempFolder m_oLocal;
  std::unique_ptr<frmMain> m_pWindow;
};

}  // namespace window_test
