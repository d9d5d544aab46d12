#include "cOrvFtpClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "FtpPump.h"
#include "FtpTestServer.h"
#include "OrvFtpClient.h"
#include "RecordingApp.h"
#include "TempFolder.h"

using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

class FtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { FTP_Init(); }
  void TearDown() override { FTP_Shutdown(); }

  bool Connect(cOrvFtpClient& o, const FtpTestServer& server) {
    return o.FtpConnect(server.Host(), server.PortText(), server.User(), server.Password());
  }

  RecordingApp m_app;
  FtpPump m_pump;
};

}  // namespace

// What the window does: connect, list, put, get, list again, each step
// started from the event of the one before.
TEST_F(FtpClientTest, ConnectListPutGetAndListAgain) {
  FtpTestServer server;
  server.MakeFolder("/up load");
  server.WriteFile("/up load/old.txt", "old");
  auto o = cOrvFtpClient::Create();
  ASSERT_TRUE(Connect(*o, server));
  ASSERT_FALSE(m_app.logs.empty());
  EXPECT_EQ(m_app.logs.back().s, "ZEMO -> FTP: OrvFtpClientCreate FtpHandle=" + std::to_string(o->Handle()));
  EXPECT_EQ(m_app.logs.back().eTyp, 24);

  std::vector<std::string> steps;
  const std::string sContent("Alarm\r\nHalle 2\0\xFF", 16);
  const std::string sPath = "/up load/neu \xC3\xA4.txt";
  o->DirEvent = [&](const std::string& sList, const std::string& sId, long lErr) {
    steps.push_back(sId + ":" + std::to_string(lErr) + ":" + sList);
    if (sId == "first") o->FtpPut(sContent, sPath, "put");
  };
  o->PutEvent = [&](const std::string& sId, long lErr) {
    steps.push_back(sId + ":" + std::to_string(lErr));
    o->FtpGet(sPath, "get");
  };
  o->GetEvent = [&](const std::string& sData, const std::string& sId, bool bEnd, long lErr) {
    steps.push_back(sId + ":" + std::to_string(lErr) + ":" + (bEnd ? "end" : "more") + ":" +
                    (sData == sContent ? "same" : "different"));
    o->FtpDir("/up load/", "again");
  };
  o->FtpDir("/up load/", "first");
  ASSERT_TRUE(m_pump.Until([&] { return steps.size() == 4; }));
  EXPECT_THAT(steps,
              ElementsAre("first:0:old.txt\r\n", "put:0", "get:0:end:same", "again:0:neu \xC3\xA4.txt\r\nold.txt\r\n"));
  EXPECT_EQ(server.ReadFile(sPath), sContent);
  EXPECT_TRUE(m_app.messages.empty());
}

TEST_F(FtpClientTest, RefusedConnectionIsReportedOnce) {
  auto o = cOrvFtpClient::Create();
  EXPECT_FALSE(o->FtpConnect("", "21", "u", "p"));
  EXPECT_EQ(o->Handle(), 0);
  ASSERT_EQ(m_app.messages.size(), 1u);
  EXPECT_EQ(m_app.messages[0].m, 1);
  EXPECT_EQ(m_app.messages[0].sModule, "OrvFtpClient");
  EXPECT_EQ(m_app.messages[0].sMsg, "Konnte FTP-Client nicht anmelden!");

  m_app.messages.clear();
  EXPECT_FALSE(o->FtpConnect("host", "2a", "u", "p"));
  ASSERT_EQ(m_app.messages.size(), 2u) << "the port text's message, then the client's";
  EXPECT_EQ(m_app.messages[0].sModule, "FTP-Client");
  EXPECT_EQ(m_app.messages[1].sMsg, "Konnte FTP-Client nicht anmelden!");
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}

TEST_F(FtpClientTest, PutTakesEmptyAndHandedOverContent) {
  FtpTestServer server;
  auto o = cOrvFtpClient::Create();
  ASSERT_TRUE(Connect(*o, server));
  std::vector<std::pair<std::string, long>> puts;
  o->PutEvent = [&](const std::string& sId, long lErr) { puts.emplace_back(sId, lErr); };
  std::string sLarge(3 * 1048576 + 17, 'L');
  sLarge[12345] = '\0';
  const std::string sExpected = sLarge;
  o->FtpPut(std::string(), "/empty.txt", "empty");
  o->FtpPut(std::move(sLarge), "/large.bin", "large");
  ASSERT_TRUE(m_pump.Until([&] { return puts.size() == 2; }));
  EXPECT_THAT(puts, ElementsAre(std::make_pair(std::string("empty"), 0L), std::make_pair(std::string("large"), 0L)));
  EXPECT_EQ(server.ReadFile("/empty.txt"), "");
  EXPECT_TRUE(server.ReadFile("/large.bin") == sExpected);
}

TEST_F(FtpClientTest, ReleasingAConnectedClientEndsItsRequests) {
  FtpTestServer server({"trickle"});
  server.WriteFile("/slow.bin", std::string(64 * 1024, 's'));
  auto o = cOrvFtpClient::Create();
  ASSERT_TRUE(Connect(*o, server));
  const long lHandle = o->Handle();
  int iEvents = 0;
  o->GetEvent = [&](const std::string&, const std::string&, bool, long) { ++iEvents; };
  o->FtpGet("/slow.bin", "slow");
  m_pump.For(300ms);
  m_app.logs.clear();
  o.reset();
  m_pump.For(800ms);
  EXPECT_EQ(iEvents, 0);
  ASSERT_FALSE(m_app.logs.empty());
  EXPECT_EQ(m_app.logs[0].s, "FTP_Unsubscribe " + std::to_string(lHandle));
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}

// The remote commands and the get into a file, each answered by its own
// event, one after the other as the window starts them.
TEST_F(FtpClientTest, RemoteCommandsAndGetIntoAFileAnswerWithTheirEvents) {
  FtpTestServer server;
  server.WriteFile("/a.txt", std::string(3 * 1024 * 1024, 'a'));
  TempFolder local;
  auto o = cOrvFtpClient::Create();
  ASSERT_TRUE(Connect(*o, server));
  std::vector<std::string> events;
  bool bProgress = false;
  auto note = [&](const std::string& sWhat) {
    return [&events, sWhat](const std::string& sId, long lErr) {
      events.push_back(sWhat + " " + sId + ":" + std::to_string(lErr));
    };
  };
  o->MkDirEvent = note("mkdir");
  o->RenameEvent = note("rename");
  o->DeleteEvent = note("delete");
  o->GetFileEvent = note("getfile");
  o->SizeEvent = [&](const std::string& sId, long lErr, std::int64_t lSize) {
    events.push_back("size " + sId + ":" + std::to_string(lErr) + ":" + std::to_string(lSize));
  };
  o->ProgressEvent = [&](const std::string&, std::uint64_t lDone, std::uint64_t lTotal) {
    bProgress = bProgress || (lDone == lTotal && lTotal == 3 * 1024 * 1024);
  };
  o->FtpWatchProgress(true);
  o->FtpMkDir("/new", "1");
  o->FtpRename("/a.txt", "b.txt", "2");
  o->FtpSize("/b.txt", "3");
  o->FtpGetFile("/b.txt", local.Path() + "/b.txt", "4");
  o->FtpDelete("/b.txt", "5");
  o->FtpDelete("/b.txt", "6");
  ASSERT_TRUE(m_pump.Until([&] { return events.size() == 6; }, 30s));
  EXPECT_THAT(events,
              ElementsAre("mkdir 1:0", "rename 2:0", "size 3:0:3145728", "getfile 4:0", "delete 5:0", "delete 6:550"));
  EXPECT_TRUE(bProgress);
  EXPECT_EQ(std::filesystem::file_size(local.Path() + "/b.txt"), 3u * 1024 * 1024);
  EXPECT_TRUE(std::filesystem::is_directory(server.LocalPath("/new")));
}
