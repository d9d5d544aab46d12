// The window's FTP side against real pyftpdlib servers: connecting, the
// remote tree and list, and a refused log-in.
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

TEST_F(RemoteWindow, ConnectWithoutAServerOnlyAsksForOne) {
  W().cbConnect->click();
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 2);
  EXPECT_EQ(m_oApp.messages[0].sModule, "FTP Site needed");
  EXPECT_EQ(m_oApp.messages[0].sMsg, "Please enter an FTP site");
  EXPECT_TRUE(m_oApp.logs.empty());
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
  ExpectDisconnected();
}

TEST_F(RemoteWindow, AnUnreachableServerTurnsConnectRedAndKeepsItDisabledUntilDisconnect) {
  const std::string sUrl = "127.0.0.1:" + std::to_string(UnusedPort());
  W().SetFtpUrlText(sUrl);
  W().SetFtpUsrText("alarm");
  W().SetFtpPwdText("never-logged");
  W().cbConnect->click();
  EXPECT_FALSE(W().cbConnect->isEnabled());
  EXPECT_EQ(Colour(W().cbConnect), kYellow);
  EXPECT_NE(W().FtpClient(), nullptr);
  ASSERT_FALSE(m_oApp.logs.empty());
  EXPECT_EQ(m_oApp.logs[0].s, "FTP Connect to " + sUrl + " user=alarm");
  EXPECT_EQ(m_oApp.logs[0].eTyp, 24);

  // While it is tried again, the status line says so, once for each try.
  std::vector<std::string> vsStatus;
  ASSERT_TRUE(PumpUntil([&] {
    const std::string s = Text(W().labStatus);
    if (vsStatus.empty() || vsStatus.back() != s) vsStatus.push_back(s);
    return s.rfind("FTP-DIR failed", 0) == 0;
  }));
  const std::vector<std::string> vsTries = {"Connecting to " + sUrl + ", try 2 of 4",
                                            "Connecting to " + sUrl + ", try 3 of 4",
                                            "Connecting to " + sUrl + ", try 4 of 4"};
  std::vector<std::string> vsConnecting;
  for (const std::string& s : vsStatus)
    if (s.rfind("Connecting to ", 0) == 0) vsConnecting.push_back(s);
  EXPECT_EQ(vsConnecting, vsTries);
  EXPECT_EQ(Text(W().labStatus), "FTP-DIR failed: Error -7");
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 1);
  EXPECT_EQ(m_oApp.messages[0].sModule, "FTP-DIR failed");
  EXPECT_EQ(m_oApp.messages[0].sMsg, "Error -7");
  // The box tells why under its text: the connection's reason, naming
  // where it tried.
  EXPECT_NE(m_oApp.messages[0].sAddInfo.find(sUrl), std::string::npos) << m_oApp.messages[0].sAddInfo;
  EXPECT_EQ(m_oApp.messages[0].sAddInfo.find("never-logged"), std::string::npos);
  EXPECT_EQ(Colour(W().cbConnect), kRed);
  EXPECT_FALSE(W().cbConnect->isEnabled());
  EXPECT_FALSE(W().cbGet->isEnabled());
  EXPECT_FALSE(W().tvFtpDirs->isEnabled());
  for (const auto& line : m_oApp.logs) EXPECT_EQ(line.s.find("never-logged"), std::string::npos) << line.s;

  W().cbDisconnect->click();
  ExpectDisconnected();
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}

TEST_F(RemoteWindow, AServerTextTheClientRefusesLeavesConnectWaitingUntilDisconnect) {
  W().SetFtpUrlText("127.0.0.1:99999");
  W().cbConnect->click();
  ASSERT_FALSE(m_oApp.messages.empty());
  EXPECT_EQ(m_oApp.messages.back().sMsg, "Konnte FTP-Client nicht anmelden!");
  PumpFor(200ms);
  EXPECT_FALSE(W().cbConnect->isEnabled());
  EXPECT_EQ(Colour(W().cbConnect), kYellow);
  W().cbDisconnect->click();
  ExpectDisconnected();
}

// Every accepted form of the server field reaches the server; the root
// listing fills the tree and the list and enables the FTP side.
TEST_F(RemoteWindow, ConnectListsTheRootForEveryFormOfTheServerText) {
  std::vector<std::pair<std::unique_ptr<FtpTestServer>, std::string>> vCases;
  auto p4 = std::make_unique<FtpTestServer>();
  vCases.emplace_back(nullptr, "127.0.0.1:" + p4->PortText());
  vCases.back().first = std::move(p4);
  auto pUrl = std::make_unique<FtpTestServer>();
  vCases.emplace_back(nullptr, "ftp://127.0.0.1:" + pUrl->PortText() + "/");
  vCases.back().first = std::move(pUrl);
  // The IPv6 loopback is served as FtpLibraryTest.IPv6Loopback needs it:
  // a machine without one fails here rather than dropping the case.
  FtpTestServer::Options o;
  o.sHost = "::1";
  auto p6 = std::make_unique<FtpTestServer>(o);
  vCases.emplace_back(nullptr, "[::1]:" + p6->PortText());
  vCases.back().first = std::move(p6);

  for (auto& [pServer, sUrl] : vCases) {
    SCOPED_TRACE(sUrl);
    pServer->MakeFolder("/pub");
    pServer->MakeFolder("/incoming");
    pServer->WriteFile("/readme.txt", "r");
    pServer->WriteFile("/index.html", "i");
    m_oApp.logs.clear();
    ASSERT_TRUE(ConnectForOutcome(*pServer, sUrl));
    frmMain& w = W();
    EXPECT_EQ(Text(w.labStatus), "FTP-DIR OK");
    EXPECT_TRUE(m_oApp.messages.empty());
    EXPECT_EQ(Colour(w.cbConnect), kGreen);
    EXPECT_FALSE(w.cbConnect->isEnabled());
    for (QWidget* p : std::initializer_list<QWidget*>{w.cbGet, w.cbPut, w.cbMkDir, w.cbReName, w.cbSize, w.cbDelete,
                                                      w.tvFtpDirs, w.lbFtpFiles}) {
      EXPECT_TRUE(p->isEnabled()) << p->objectName().toStdString();
    }
    QTreeWidgetItem* pRoot = w.FtpNode("ROOT");
    ASSERT_NE(pRoot, nullptr);
    EXPECT_EQ(Children(pRoot), (std::vector<std::string>{"incoming", "pub"}));
    EXPECT_EQ(w.FtpNode("/pub")->parent(), pRoot);
    EXPECT_EQ(frmMain::FtpNodeImage(pRoot), "OpenFld");
    EXPECT_EQ(Sorted(Entries(w.lbFtpFiles)), (std::vector<std::string>{"index.html", "readme.txt"}));
    EXPECT_EQ(Text(w.labFtpFileCnt), "2 files");
    EXPECT_EQ(pServer->LoginCount(), 1);
    ASSERT_FALSE(m_oApp.logs.empty());
    EXPECT_EQ(m_oApp.logs[0].s, "FTP Connect to " + sUrl + " user=" + pServer->User());
    bool bDirOk = false;
    for (const auto& line : m_oApp.logs) {
      EXPECT_EQ(line.s.find(pServer->Password()), std::string::npos) << line.s;
      bDirOk |= line.s == "FTP-DIR OK" && line.eTyp == 24;
    }
    EXPECT_TRUE(bDirOk);

    w.cbDisconnect->click();
    ExpectDisconnected();
    EXPECT_EQ(FTP_SubscriberCnt(), 0);
  }
}

TEST_F(RemoteWindow, NodeAndFileClicksSetThePathAndListTheFolder) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  server.MakeFolder("/pub/incoming");
  server.WriteFile("/pub/a.txt", "a");
  server.WriteFile("/pub/incoming/deep.txt", "d");
  server.WriteFile("/top.txt", "t");
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();

  ClickNode(w.tvFtpDirs, w.FtpNode("/pub"));
  EXPECT_EQ(Text(w.tbFtpPath), "/pub/");
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"a.txt"}; }));
  ASSERT_NE(w.FtpNode("/pub/incoming"), nullptr);
  EXPECT_EQ(w.FtpNode("/pub/incoming")->parent(), w.FtpNode("/pub"));
  EXPECT_EQ(frmMain::FtpNodeImage(w.FtpNode("/pub")), "OpenFld");

  ClickNode(w.tvFtpDirs, w.FtpNode("/pub/incoming"));
  EXPECT_EQ(Text(w.tbFtpPath), "/pub/incoming/");
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"deep.txt"}; }));
  EXPECT_EQ(Text(w.labFtpFileCnt), "1 files");

  ClickRow(w.lbFtpFiles, "deep.txt");
  EXPECT_EQ(Text(w.tbFtpPath), "/pub/incoming/deep.txt");

  // The root throws the tree away and lists the top folder anew.
  ClickNode(w.tvFtpDirs, w.FtpNode("ROOT"));
  EXPECT_EQ(Text(w.tbFtpPath), "/");
  EXPECT_EQ(w.FtpNode("/pub"), nullptr);
  EXPECT_EQ(w.FtpNode("/pub/incoming"), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"top.txt"}; }));
  EXPECT_EQ(Children(w.FtpNode("ROOT")), std::vector<std::string>{"pub"});
  EXPECT_EQ(w.tvFtpDirs->currentItem(), w.FtpNode("ROOT"));
  EXPECT_TRUE(m_oApp.messages.empty());
}

// Folders of one name under different parents are nodes of their own, and
// each lists its own files.
TEST_F(RemoteWindow, FoldersOfTheSameNameEachListTheirOwnFiles) {
  FtpTestServer server;
  for (const char* szFolder : {"/a", "/a/docs", "/b", "/b/docs"}) server.MakeFolder(szFolder);
  server.WriteFile("/a/docs/from-a.txt", "a");
  server.WriteFile("/b/docs/from-b.txt", "b");
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();
  ClickNode(w.tvFtpDirs, w.FtpNode("/a"));
  ASSERT_TRUE(PumpUntil([&] { return w.FtpNode("/a/docs") != nullptr; }));
  ClickNode(w.tvFtpDirs, w.FtpNode("/b"));
  ASSERT_TRUE(PumpUntil([&] { return w.FtpNode("/b/docs") != nullptr; }));
  EXPECT_EQ(w.FtpNode("/a/docs")->parent(), w.FtpNode("/a"));
  EXPECT_EQ(w.FtpNode("/b/docs")->parent(), w.FtpNode("/b"));

  ClickNode(w.tvFtpDirs, w.FtpNode("/a/docs"));
  EXPECT_EQ(Text(w.tbFtpPath), "/a/docs/");
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"from-a.txt"}; }));
  ClickNode(w.tvFtpDirs, w.FtpNode("/b/docs"));
  EXPECT_EQ(Text(w.tbFtpPath), "/b/docs/");
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"from-b.txt"}; }));
  EXPECT_TRUE(m_oApp.messages.empty());
}

// Names that are no UTF-8 (Latin-1 here) go back to the server as the bytes
// it listed; a fetched file keeps them on the local side, and a local name
// of that kind reaches the server unchanged.
TEST_F(RemoteWindow, NamesThatAreNoUtf8TravelAsTheirOwnBytes) {
  FtpTestServer server;
  const std::string sFolder = "/d\xE9p\xF4t";
  server.MakeFolder(sFolder);
  server.WriteFile(sFolder + "/caf\xE9.txt", "caf\xE9 au lait");
  WriteLocal(Local("r\xE9sum\xE9.txt"), "r\xE9sum\xE9");
  W().dlb_Click();
  ASSERT_TRUE(ConnectForOutcome(server));
  frmMain& w = W();

  ClickNode(w.tvFtpDirs, w.FtpNode(sFolder));
  EXPECT_EQ(Text(w.tbFtpPath), sFolder + "/");
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"caf\xE9.txt"}; }));
  ClickRow(w.lbFtpFiles, "caf\xE9.txt");
  EXPECT_EQ(Text(w.tbFtpPath), sFolder + "/caf\xE9.txt");
  w.cbGet->click();
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("caf\xE9.txt"));
  EXPECT_EQ(LocalFilesBelow(), (std::vector<std::string>{"caf\xE9.txt", "r\xE9sum\xE9.txt"}));
  EXPECT_EQ(ReadLocal(Local("caf\xE9.txt")), "caf\xE9 au lait");

  ClickRow(w.lbLocalFiles, "r\xE9sum\xE9.txt");
  EXPECT_EQ(Text(w.tbLocalPath), Local("r\xE9sum\xE9.txt"));
  w.cbPut->click();
  ASSERT_TRUE(PumpUntil([&] { return Colour(w.cbPut) == kGreen || Colour(w.cbPut) == kRed; }));
  EXPECT_EQ(Colour(w.cbPut), kGreen);
  EXPECT_EQ(server.ReadFile(sFolder + "/r\xE9sum\xE9.txt"), "r\xE9sum\xE9");
  ASSERT_TRUE(PumpUntil([&] { return w.lbFtpFiles->count() == 2; }));
  EXPECT_EQ(Sorted(Entries(w.lbFtpFiles)), (std::vector<std::string>{"caf\xE9.txt", "r\xE9sum\xE9.txt"}));
  EXPECT_TRUE(m_oApp.messages.empty());
}

TEST_F(RemoteWindow, ARefusedLoginFailsTheRootListing) {
  FtpTestServer server;
  ASSERT_TRUE(ConnectForOutcome(server, "", "wrong password"));
  frmMain& w = W();
  EXPECT_EQ(Text(w.labStatus), "FTP-DIR failed: Error 530");
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 1);
  EXPECT_EQ(m_oApp.messages[0].sModule, "FTP-DIR failed");
  EXPECT_EQ(m_oApp.messages[0].sMsg, "Error 530");
  // The server's reply is the reason under the text; the password is not.
  EXPECT_NE(m_oApp.messages[0].sAddInfo.find("530 "), std::string::npos) << m_oApp.messages[0].sAddInfo;
  EXPECT_EQ(m_oApp.messages[0].sAddInfo.find("wrong password"), std::string::npos) << m_oApp.messages[0].sAddInfo;
  EXPECT_EQ(Colour(w.cbConnect), kRed);
  EXPECT_FALSE(w.cbConnect->isEnabled());
  EXPECT_FALSE(w.cbPut->isEnabled());
  EXPECT_EQ(w.FtpNode("ROOT")->childCount(), 0);
  for (const auto& line : m_oApp.logs) EXPECT_EQ(line.s.find("wrong password"), std::string::npos) << line.s;
}

}  // namespace
