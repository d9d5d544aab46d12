// The window over SFTP against OpenSSH's sshd: the question about an
// unknown host key, browsing once it is trusted, and a changed key.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "CommandWindow.h"
#include "OrvFtpClient.h"
#include "OrvFtpLibrary.h"
#include "RecordingApp.h"
#include "SshTestServer.h"
#include "TempFolder.h"
#include "WidgetProbes.h"
#include "WindowPump.h"
#include "frmMain.h"

using namespace std::chrono_literals;
using namespace window_test;
namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The shared window with a home folder of its own, where the known hosts
// go.
class SftpWindow : public CommandWindow {
 protected:
  void SetUp() override {
    const char* sHome = std::getenv("HOME");
    m_sOldHome = sHome ? sHome : "";
    ::setenv("HOME", m_home.Path().c_str(), 1);
    CommandWindow::SetUp();
  }
  void TearDown() override {
    CommandWindow::TearDown();
    ::setenv("HOME", m_sOldHome.c_str(), 1);
  }

  // Connects afresh and waits for the root listing's outcome.
  bool Connect(const SshTestServer& server) {
    W().cbDisconnect_Click();
    return ConnectForOutcome("sftp://127.0.0.1:" + std::to_string(server.Port()), server.User(), server.Password());
  }
  fs::path KnownHosts() const { return fs::path(m_home.Path()) / ".ssh" / "known_hosts"; }
  std::string ToolTip() const { return m_pWindow->labStatus->toolTip().toStdString(); }

  TempFolder m_home;
  std::string m_sOldHome;
};

}  // namespace

TEST_F(SftpWindow, AnUnknownHostKeyIsTrustedOnlyWhenTheUserSaysYes) {
  SshTestServer server;
  server.MakeFolder("/in");
  server.WriteFile("/in/alarm.txt", "alarm");
  frmMain& w = *m_pWindow;
  const std::string sKey = "ssh-ed25519 " + server.HostKeyFingerprint();

  ASSERT_TRUE(Connect(server));
  ASSERT_EQ(m_oApp.questions.size(), 1u);
  EXPECT_NE(m_oApp.questions[0].sText.find(sKey), std::string::npos) << m_oApp.questions[0].sText;
  EXPECT_EQ(Text(w.labStatus), "FTP-DIR failed: Error -60");
  EXPECT_NE(ToolTip().find("the host key is unknown: " + sKey), std::string::npos) << ToolTip();
  EXPECT_FALSE(fs::exists(KnownHosts())) << "No trusts nothing";

  m_oApp.bAnswer = true;
  ASSERT_TRUE(Connect(server));
  EXPECT_EQ(m_oApp.questions.size(), 2u);
  EXPECT_EQ(Text(w.labStatus), "FTP-DIR OK");
  EXPECT_EQ(ToolTip(), "");
  EXPECT_EQ(ReadText(KnownHosts()), server.KnownHostsLine() + "\n");
  QTreeWidgetItem* pIn = w.FtpNode("/in");
  ASSERT_NE(pIn, nullptr);
  w.tvFtpDirs->setCurrentItem(pIn);
  w.tvFtpDirs_NodeClick(pIn);
  ASSERT_TRUE(PumpUntil([&w] { return w.lbFtpFiles->count() == 1; }));
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"alarm.txt"});
  EXPECT_EQ(Text(w.tbFtpPath), "/in/");

  // A changed key is refused without a question.
  server.PresentHostKey(SshTestServer::HostKey::kChanged);
  ASSERT_TRUE(Connect(server));
  EXPECT_EQ(m_oApp.questions.size(), 2u);
  EXPECT_EQ(Text(w.labStatus), "FTP-DIR failed: Error -60");
  EXPECT_NE(ToolTip().find("the host key has changed"), std::string::npos) << ToolTip();
  EXPECT_EQ(ReadText(KnownHosts()), server.KnownHostsLine(SshTestServer::HostKey::kUsual) + "\n");
}
