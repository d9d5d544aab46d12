// The window's FTP side against real pyftpdlib servers: connecting, the
// remote tree and list, getting and putting files, the servers' refusals,
// disconnecting and the window's close.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ByteText.h"
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
namespace fs = std::filesystem;

namespace {

// The texts of a node's children, sorted: servers list in their own order.
std::vector<std::string> Children(const QTreeWidgetItem* p) {
  std::vector<std::string> vs;
  for (int i = 0; i < p->childCount(); ++i) vs.push_back(p->child(i)->text(0).toStdString());
  std::sort(vs.begin(), vs.end());
  return vs;
}

std::vector<std::string> Sorted(std::vector<std::string> vs) {
  std::sort(vs.begin(), vs.end());
  return vs;
}

std::string ReadLocal(const std::string& sPath) { return LibOrv_ReadFile(sPath); }
void WriteLocal(const std::string& sPath, const std::string& sData) { std::ofstream(sPath, std::ios::binary) << sData; }

std::string RandomBytes(std::size_t n, unsigned uSeed) {
  std::mt19937 gen(uSeed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// A loopback port on which nothing listens.
int UnusedPort() {
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

bool HasCommand(const FtpTestServer& server, const std::string& sPrefix) {
  for (const std::string& s : server.Commands())
    if (s.rfind(sPrefix, 0) == 0) return true;
  return false;
}

void ClickNode(QTreeWidget* pTree, QTreeWidgetItem* pNode) {
  ASSERT_NE(pNode, nullptr);
  pTree->scrollToItem(pNode);
  QTest::mouseClick(pTree->viewport(), Qt::LeftButton, Qt::NoModifier, pTree->visualItemRect(pNode).center());
}

void ClickRow(QListWidget* pList, const std::string& sText) {
  const auto vItems = pList->findItems(ByteText_FromBytes(sText), Qt::MatchExactly);
  ASSERT_EQ(vItems.size(), 1) << sText;
  pList->scrollToItem(vItems[0]);
  QTest::mouseClick(pList->viewport(), Qt::LeftButton, Qt::NoModifier, pList->visualItemRect(vItems[0]).center());
}

// A loaded, visible window whose local side shows a folder of the test's
// own, with the FTP library running and a recording application.
class RemoteWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    FTP_Init();
    m_pWindow = std::make_unique<frmMain>();
    m_pWindow->Load();
    m_pWindow->dlb->SetPath(m_oLocal.Path());
    m_pWindow->dlb_Click();
    m_pWindow->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pWindow.get()));
    m_oApp.logs.clear();
  }
  void TearDown() override {
    m_pWindow.reset();
    FTP_Shutdown();
  }

  frmMain& W() { return *m_pWindow; }
  std::string Local(const std::string& sName) const { return m_oLocal.Path() + "/" + sName; }
  // Every file below the local folder, by its path relative to it, sorted.
  std::vector<std::string> LocalNames() const {
    std::vector<std::string> vs;
    for (const auto& e : fs::recursive_directory_iterator(m_oLocal.Path()))
      if (e.is_regular_file()) vs.push_back(fs::relative(e.path(), m_oLocal.Path()).string());
    return Sorted(vs);
  }

  // Fills the credential fields, presses Connect and waits for the root
  // listing's outcome.
  bool Connect(const FtpTestServer& server, const std::string& sUrl = "", const std::string& sPwd = "") {
    W().SetFtpUrlText(sUrl.empty() ? "127.0.0.1:" + server.PortText() : sUrl);
    W().SetFtpUsrText(server.User());
    W().SetFtpPwdText(sPwd.empty() ? server.Password() : sPwd);
    W().cbConnect->click();
    return PumpUntil([this] {
      const std::string s = Text(W().labStatus);
      return s == "FTP-DIR OK" || s.rfind("FTP-DIR failed", 0) == 0;
    });
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

  RecordingApp m_oApp{1};
  TempFolder m_oLocal;
  std::unique_ptr<frmMain> m_pWindow;
};

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
    ASSERT_TRUE(Connect(*pServer, sUrl));
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
  ASSERT_TRUE(Connect(server));
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
  ASSERT_TRUE(Connect(server));
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
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();

  ClickNode(w.tvFtpDirs, w.FtpNode(sFolder));
  EXPECT_EQ(Text(w.tbFtpPath), sFolder + "/");
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles) == std::vector<std::string>{"caf\xE9.txt"}; }));
  ClickRow(w.lbFtpFiles, "caf\xE9.txt");
  EXPECT_EQ(Text(w.tbFtpPath), sFolder + "/caf\xE9.txt");
  w.cbGet->click();
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("caf\xE9.txt"));
  EXPECT_EQ(LocalNames(), (std::vector<std::string>{"caf\xE9.txt", "r\xE9sum\xE9.txt"}));
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

TEST_F(RemoteWindow, GetWritesTheFileIntoTheLocalFolderAndRefreshesTheLocalList) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  const std::string sData = RandomBytes(200000, 1) + std::string("\r\n\0\xFF", 4);
  server.WriteFile("/pub/data.bin", sData);
  WriteLocal(Local("keep.txt"), "keep");
  W().dlb_Click();
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  ClickNode(w.tvFtpDirs, w.FtpNode("/pub"));
  ASSERT_TRUE(PumpUntil([&] { return w.lbFtpFiles->count() == 1; }));
  ClickRow(w.lbFtpFiles, "data.bin");
  ASSERT_EQ(Text(w.tbFtpPath), "/pub/data.bin");
  // A selected local file stands for its folder.
  ClickRow(w.lbLocalFiles, "keep.txt");
  ASSERT_EQ(Text(w.tbLocalPath), Local("keep.txt"));
  m_oApp.logs.clear();

  w.cbGet->click();
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("data.bin"));
  EXPECT_TRUE(m_oApp.messages.empty());
  EXPECT_EQ(ReadLocal(Local("data.bin")), sData);
  EXPECT_EQ(ReadLocal(Local("keep.txt")), "keep");
  EXPECT_EQ(Colour(w.cbGet), kGreen);
  EXPECT_EQ(Sorted(Entries(w.lbLocalFiles)), (std::vector<std::string>{"data.bin", "keep.txt"}));
  EXPECT_EQ(Text(w.tbLocalPath), m_oLocal.Path() + "/");
  ASSERT_GE(m_oApp.logs.size(), 2u);
  EXPECT_EQ(m_oApp.logs.front().s, "FTP Get /pub/data.bin");
  EXPECT_EQ(m_oApp.logs.back().s, "FTP-GET OK: " + Local("data.bin"));
  EXPECT_EQ(m_oApp.logs.back().eTyp, 24);

  // A second get replaces the file that is there now; an empty remote file
  // gives an empty local one.
  server.WriteFile("/pub/data.bin", "");
  w.labStatus->clear();
  m_oApp.bAnswer = true;  // replace it
  w.cbGet->click();
  EXPECT_EQ(m_oApp.questions.size(), 1u);
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("data.bin"));
  EXPECT_EQ(ReadLocal(Local("data.bin")), "");
  EXPECT_EQ(LocalNames(), (std::vector<std::string>{"data.bin", "keep.txt"}));
}

TEST_F(RemoteWindow, GetNeedsAFileAndFetchesOneLargerThanAChunk) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  const std::string sFits = RandomBytes(1048576, 2);
  server.WriteFile("/pub/fits.bin", sFits);
  const std::string sBig = RandomBytes(1048577, 3);
  server.WriteFile("/pub/big.bin", sBig);
  WriteLocal(Local("big.bin"), "the old big.bin");
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  w.tbLocalPath->setText(QString::fromStdString(m_oLocal.Path() + "/"));

  w.tbFtpPath->setText("/pub/");
  w.cbGet->click();
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 2);
  EXPECT_EQ(m_oApp.messages[0].sModule, "Get file from FTP server");
  EXPECT_EQ(m_oApp.messages[0].sMsg, "No file selected to get");
  m_oApp.messages.clear();

  w.tbFtpPath->setText("/pub/fits.bin");
  w.cbGet->click();
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("fits.bin"));
  EXPECT_EQ(ReadLocal(Local("fits.bin")), sFits);

  // A file beyond one chunk arrives whole and replaces the old one.
  w.tbFtpPath->setText("/pub/big.bin");
  w.labStatus->clear();
  m_oApp.bAnswer = true;  // replace it
  w.cbGet->click();
  EXPECT_EQ(m_oApp.questions.size(), 1u);
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET OK: " + Local("big.bin"));
  EXPECT_TRUE(m_oApp.messages.empty());
  EXPECT_EQ(Colour(w.cbGet), kGreen);
  EXPECT_TRUE(ReadLocal(Local("big.bin")) == sBig);
  EXPECT_EQ(LocalNames(), (std::vector<std::string>{"big.bin", "fits.bin"})) << "nothing else is written";

  // A missing remote file is the server's refusal.
  w.tbFtpPath->setText("/pub/none.bin");
  w.labStatus->clear();
  m_oApp.messages.clear();
  w.cbGet->click();
  ASSERT_TRUE(WaitForStatus("FTP-GET"));
  EXPECT_EQ(Text(w.labStatus), "FTP-GET failed: Error 550");
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].sMsg, "Error 550");
  EXPECT_EQ(Colour(w.cbGet), kRed);
  EXPECT_EQ(LocalNames(), (std::vector<std::string>{"big.bin", "fits.bin"})) << "no temporary file is left";
}

// A fetched file that cannot be saved is reported with the file error; a
// file already there keeps its content, and the window stays as it was.
TEST_F(RemoteWindow, GetReportsATargetThatCannotBeWritten) {
  FtpTestServer server;
  server.WriteFile("/data.bin", "fetched");
  WriteLocal(Local("blocker"), "a file where a folder should be");
  fs::create_directory(Local("ro"));
  WriteLocal(Local("ro/data.bin"), "write-protected");
  ::chmod(Local("ro/data.bin").c_str(), 0444);
  fs::create_directories(Local("dir/data.bin"));
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  w.tbFtpPath->setText("/data.bin");

  struct Case {
    std::string sLocalPath;  // tbLocalPath
    long lNumber;            // 0: any file error
    std::string sKept;       // what the target still holds, if it is a file
  };
  const std::vector<Case> vCases = {
      {Local("missing/"), 0, ""},
      {Local("blocker/"), 0, ""},
      {Local("ro/"), 70, "write-protected"},
      {Local("dir/"), 0, ""},
  };
  for (const Case& c : vCases) {
    SCOPED_TRACE(c.sLocalPath);
    m_oApp.messages.clear();
    w.labStatus->clear();
    w.tbLocalPath->setText(QString::fromStdString(c.sLocalPath));
    w.cbGet->click();
    ASSERT_TRUE(WaitForStatus("FTP-GET"));
    ASSERT_EQ(m_oApp.messages.size(), 1u);
    const RecordingApp::Message& msg = m_oApp.messages[0];
    EXPECT_EQ(msg.m, 2);
    EXPECT_EQ(msg.sModule, "FTP-GET failed");
    EXPECT_NE(msg.lErrNumber, 0);
    if (c.lNumber != 0) {
      EXPECT_EQ(msg.lErrNumber, c.lNumber);
    }
    const std::string sError = "Error " + std::to_string(msg.lErrNumber) + ": ";
    EXPECT_EQ(msg.sMsg.rfind(sError, 0), 0u) << msg.sMsg;
    EXPECT_GT(msg.sMsg.size(), sError.size()) << "with the error's description";
    EXPECT_EQ(Text(w.labStatus).rfind("FTP-GET failed: " + sError, 0), 0u) << Text(w.labStatus);
    EXPECT_EQ(Colour(w.cbGet), kRed);
    EXPECT_EQ(Text(w.tbLocalPath), c.sLocalPath);
    if (!c.sKept.empty()) {
      EXPECT_EQ(ReadLocal(c.sLocalPath + "data.bin"), c.sKept);
    }
  }
  EXPECT_FALSE(fs::exists(Local("missing")));
  EXPECT_TRUE(fs::is_regular_file(Local("blocker")));
  EXPECT_TRUE(fs::is_directory(Local("dir/data.bin")));
  EXPECT_EQ(LocalNames(), (std::vector<std::string>{"blocker", "ro/data.bin"})) << "no temporary file is left";
  EXPECT_TRUE(w.cbGet->isEnabled());
  EXPECT_EQ(Colour(w.cbConnect), kGreen);
  EXPECT_FALSE(HasCommand(server, "RETR")) << "nothing is fetched";
}

TEST_F(RemoteWindow, PutSendsTheLocalFileUnderItsOwnNameAndListsTheFolderAgain) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  server.WriteFile("/pub/readme.txt", "r");
  const std::string sData = RandomBytes(300000, 4);
  WriteLocal(Local("upload me.bin"), sData);
  W().dlb_Click();
  ASSERT_TRUE(Connect(server));
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
  ASSERT_TRUE(Connect(server));
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
  ASSERT_TRUE(Connect(server));
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
  ASSERT_TRUE(Connect(server));
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
    ASSERT_TRUE(Connect(server));
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

TEST_F(RemoteWindow, ARefusedLoginFailsTheRootListing) {
  FtpTestServer server;
  ASSERT_TRUE(Connect(server, "", "wrong password"));
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

// After a disconnect nothing of the old connection reaches the window, and
// a new connection works as the first did.
TEST_F(RemoteWindow, DisconnectResetsTheRemoteSideAndDropsOutstandingResults) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  server.MakeFolder("/pub/incoming");
  server.WriteFile("/pub/a.txt", "a");
  server.WriteFile("/top.txt", "t");
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  ClickNode(w.tvFtpDirs, w.FtpNode("/pub"));
  ASSERT_TRUE(PumpUntil([&] { return w.FtpNode("/pub/incoming") != nullptr; }));
  w.tbLocalPath->setText(QString::fromStdString(Local("")));
  const std::size_t lLogins = static_cast<std::size_t>(server.LoginCount());

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

  ASSERT_TRUE(Connect(server));
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
  ASSERT_TRUE(Connect(server));
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
