// The window's FTP side against real pyftpdlib servers: getting files.
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

TEST_F(RemoteWindow, GetWritesTheFileIntoTheLocalFolderAndRefreshesTheLocalList) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  const std::string sData = RandomBytes(200000, 1) + std::string("\r\n\0\xFF", 4);
  server.WriteFile("/pub/data.bin", sData);
  WriteLocal(Local("keep.txt"), "keep");
  W().dlb_Click();
  ASSERT_TRUE(ConnectForOutcome(server));
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
  EXPECT_EQ(LocalFilesBelow(), (std::vector<std::string>{"data.bin", "keep.txt"}));
}

TEST_F(RemoteWindow, GetNeedsAFileAndFetchesOneLargerThanAChunk) {
  FtpTestServer server;
  server.MakeFolder("/pub");
  const std::string sFits = RandomBytes(1048576, 2);
  server.WriteFile("/pub/fits.bin", sFits);
  const std::string sBig = RandomBytes(1048577, 3);
  server.WriteFile("/pub/big.bin", sBig);
  WriteLocal(Local("big.bin"), "the old big.bin");
  ASSERT_TRUE(ConnectForOutcome(server));
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
  EXPECT_EQ(LocalFilesBelow(), (std::vector<std::string>{"big.bin", "fits.bin"})) << "nothing else is written";

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
  EXPECT_EQ(LocalFilesBelow(), (std::vector<std::string>{"big.bin", "fits.bin"})) << "no temporary file is left";
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
  ASSERT_TRUE(ConnectForOutcome(server));
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
  EXPECT_EQ(LocalFilesBelow(), (std::vector<std::string>{"blocker", "ro/data.bin"})) << "no temporary file is left";
  EXPECT_TRUE(w.cbGet->isEnabled());
  EXPECT_EQ(Colour(w.cbConnect), kGreen);
  EXPECT_FALSE(HasCommand(server, "RETR")) << "nothing is fetched";
}

}  // namespace
