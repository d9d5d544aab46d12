// Servers that do not confine their users put them in a folder of the whole
// file system: the window opens its tree down to that folder after the
// first listing and lists it, with no command sent for it but the listing.
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "CommandWindow.h"
#include "WidgetProbes.h"

using namespace window_test;

namespace {

TEST_F(CommandWindow, TheTreeOpensDownToTheLoginFolderOfAServerThatDoesNotConfineItsUsers) {
  RealFtpServer server(RealFtpServer::Product::kProftpd, RealFtpServer::Tls::kNone, RealFtpServer::Confinement::kNone);
  const std::string sHome = server.Root().string();
  fs::create_directories(sHome + "/in");
  std::ofstream(sHome + "/at home.txt") << "h";
  W().SetFtpUrlText("127.0.0.1:" + server.PortText());
  W().SetFtpUsrText(server.User());
  W().SetFtpPwdText(server.Password());
  W().cbConnect->click();
  ASSERT_TRUE(PumpUntil([&] { return W().FtpNode(sHome + "/in") != nullptr && Text(W().labStatus) == "FTP-DIR OK"; }))
      << server.ServerLog();

  frmMain& w = W();
  EXPECT_EQ(Text(w.tbFtpPath), sHome + "/");
  EXPECT_EQ(frmMain::FtpNodeKey(w.tvFtpDirs->currentItem()), sHome);
  EXPECT_EQ(Entries(w.lbFtpFiles), std::vector<std::string>{"at home.txt"});
  // Each folder above it is a node to click, open down to it.
  for (QTreeWidgetItem* p = w.tvFtpDirs->currentItem()->parent(); p; p = p->parent())
    EXPECT_TRUE(p->isExpanded()) << frmMain::FtpNodeKey(p);
  EXPECT_NE(w.FtpNode("/tmp"), nullptr) << "the root's listing is in the tree too";
  // Two listings (the root, the login folder) in the server's command log.
  const std::string sLog = server.ServerLog();
  std::size_t lListings = 0;
  for (const char* szCommand : {"\"MLSD", "\"LIST", "\"NLST"})
    for (std::size_t p = sLog.find(szCommand); p != std::string::npos; p = sLog.find(szCommand, p + 1)) ++lListings;
  EXPECT_EQ(lListings, 2u) << sLog;
  EXPECT_TRUE(m_oApp.messages.empty());
}

}  // namespace
