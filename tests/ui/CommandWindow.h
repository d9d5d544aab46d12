#pragma once

// The window tests' fixture against a real server: a loaded, visible window
// with a local folder of its own, the FTP library running and a recording
// application, and the ways a test connects, clicks and checks.
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "ByteText.h"
#include "DirListBox.h"
#include "FtpTestServer.h"
#include "LibOrv.h"
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

inline std::string ReadLocal(const std::string& sPath) { return LibOrv_ReadFile(sPath); }
inline void WriteLocal(const std::string& sPath, const std::string& sData) {
  std::ofstream(sPath, std::ios::binary) << sData;
}

// The texts of a node's children, sorted: servers list in their own order.
inline std::vector<std::string> Children(const QTreeWidgetItem* p) {
  std::vector<std::string> vs;
  for (int i = 0; i < p->childCount(); ++i) vs.push_back(p->child(i)->text(0).toStdString());
  return Sorted(vs);
}

// A loopback port on which nothing listens.
inline int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline std::size_t CountCommands(const FtpTestServer& server, const std::string& sPrefix) {
  std::size_t lCount = 0;
  for (const std::string& s : server.Commands()) lCount += s.rfind(sPrefix, 0) == 0 ? 1 : 0;
  return lCount;
}

inline bool HasCommand(const FtpTestServer& server, const std::string& sPrefix) {
  return CountCommands(server, sPrefix) > 0;
}

inline void ClickNode(QTreeWidget* pTree, QTreeWidgetItem* pNode) {
  ASSERT_NE(pNode, nullptr);
  pTree->scrollToItem(pNode);
  QTest::mouseClick(pTree->viewport(), Qt::LeftButton, Qt::NoModifier, pTree->visualItemRect(pNode).center());
}

inline void ClickRow(QListWidget* pList, const std::string& sText) {
  const auto vItems = pList->findItems(ByteText_FromBytes(sText), Qt::MatchExactly);
  ASSERT_EQ(vItems.size(), 1) << sText;
  pList->scrollToItem(vItems[0]);
  QTest::mouseClick(pList->viewport(), Qt::LeftButton, Qt::NoModifier, pList->visualItemRect(vItems[0]).center());
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
// running and a recording application. A fixture that sets m_sCommandLine
// before SetUp gets a window with that command line, not loaded: loading
// it would start its automatic run, and the tests drive the window
// themselves.
class CommandWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    FTP_Init();
    m_pWindow = m_sCommandLine.empty() ? std::make_unique<frmMain>() : std::make_unique<frmMain>(m_sCommandLine);
    if (m_sCommandLine.empty()) m_pWindow->Load();
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
  // Every file below the local folder, by its path relative to it, sorted.
  std::vector<std::string> LocalFilesBelow() const {
    std::vector<std::string> vs;
    for (const auto& e : fs::recursive_directory_iterator(m_oLocal.Path()))
      if (e.is_regular_file()) vs.push_back(fs::relative(e.path(), m_oLocal.Path()).string());
    return Sorted(vs);
  }

  // Fills the server fields, presses Connect and waits for the root
  // listing's outcome, success or failure; false when none came.
  bool ConnectForOutcome(const std::string& sUrl, const std::string& sUser, const std::string& sPwd) {
    W().SetFtpUrlText(sUrl);
    W().SetFtpUsrText(sUser);
    W().SetFtpPwdText(sPwd);
    W().cbConnect->click();
    return PumpUntil([this] {
      const std::string s = Text(W().labStatus);
      return s == "FTP-DIR OK" || s.rfind("FTP-DIR failed", 0) == 0;
    });
  }
  // The same with the server's address and log-in, unless sUrl or sPwd
  // say otherwise.
  bool ConnectForOutcome(const LoopbackFtpServer& server, const std::string& sUrl = "", const std::string& sPwd = "") {
    return ConnectForOutcome(sUrl.empty() ? "127.0.0.1:" + server.PortText() : sUrl, server.User(),
                             sPwd.empty() ? server.Password() : sPwd);
  }
  // Connects and tells whether the root listing arrived.
  bool Connect(const LoopbackFtpServer& server) {
    return ConnectForOutcome(server) && Text(W().labStatus) == "FTP-DIR OK";
  }
  // Reads the local folder, connects, and puts all its files into the
  // server's root in one queue, as Ctrl+A and Put do.
  bool ConnectAndPutAll(const LoopbackFtpServer& server) {
    W().dlb_Click();
    if (!Connect(server)) return false;
    W().tbFtpPath->setText("/");
    W().lbLocalFiles->selectAll();
    W().cbPut->click();
    return true;
  }
  // Waits for an outcome: a progress text ("FTP-GET 1.0 MiB of ...") that
  // a slow transfer shows meanwhile is none.
  bool WaitForStatus(const std::string& sPrefix) {
    return PumpUntil([&] {
      const std::string s = Text(W().labStatus);
      const bool bProgress = s.size() > 8 && s.rfind("FTP-", 0) == 0 && s[7] == ' ' && std::isdigit(s[8]);
      return s.rfind(sPrefix, 0) == 0 && !bProgress;
    });
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
  // The window as a disconnect leaves it: no client, the remote side
  // disabled and empty but for its root, the buttons back to their face.
  void ExpectDisconnected() {
    frmMain& w = W();
    EXPECT_EQ(w.FtpClient(), nullptr);
    EXPECT_EQ(Text(w.labStatus), "Disconnected");
    EXPECT_TRUE(w.cbConnect->isEnabled());
    for (QPushButton* p : {w.cbConnect, w.cbGet, w.cbPut}) EXPECT_EQ(Colour(p), ButtonFace());
    for (QWidget* p : std::initializer_list<QWidget*>{w.cbGet, w.cbPut, w.cbMkDir, w.cbReName, w.cbSize, w.cbDelete,
                                                      w.tvFtpDirs, w.lbFtpFiles}) {
      EXPECT_FALSE(p->isEnabled()) << p->objectName().toStdString();
    }
    ASSERT_EQ(w.tvFtpDirs->topLevelItemCount(), 1);
    QTreeWidgetItem* pRoot = w.tvFtpDirs->topLevelItem(0);
    EXPECT_EQ(frmMain::FtpNodeKey(pRoot), "ROOT");
    EXPECT_EQ(pRoot->childCount(), 0);
    EXPECT_EQ(frmMain::FtpNodeImage(pRoot), "CloseFld");
    EXPECT_EQ(w.tvFtpDirs->currentItem(), pRoot);
    EXPECT_EQ(w.lbFtpFiles->count(), 0);
  }

  std::string m_sCommandLine;
  RecordingApp m_oApp{1};
  TempFolder m_oLocal;
  std::unique_ptr<frmMain> m_pWindow;
};

// The remote side's tests: the shared window, with what its start logged
// set aside.
class RemoteWindow : public CommandWindow {
 protected:
  void SetUp() override {
    CommandWindow::SetUp();
    m_oApp.logs.clear();
  }
};

}  // namespace window_test
