#include "OrvFtpClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "FtpPump.h"
#include "FtpTestServer.h"
#include "LibOrv.h"
#include "RecordingApp.h"
#include "cOrvFtpClient.h"

using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

const std::string kUndeliverableTail =
    " konnte nicht zugestellt werden, weil kein FTP-Objekt f\xC3\xBCr dieses Handle registriert ist.";

struct DirEventRecord {
  std::string sDirList, sRequestID;
  long lErrCode;
  std::thread::id thread;
};

class FtpRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { FTP_Init(); }
  void TearDown() override { FTP_Shutdown(); }

  // A connected client: creating the connection does not reach the network.
  std::shared_ptr<cOrvFtpClient> Connected() {
    auto o = cOrvFtpClient::Create();
    EXPECT_TRUE(o->FtpConnect("127.0.0.1", "21", "user", "pwd"));
    return o;
  }

  std::vector<std::string> LogTexts(long eTyp) const {
    std::vector<std::string> texts;
    for (const auto& line : m_app.logs)
      if (line.eTyp == eTyp) texts.push_back(line.s);
    return texts;
  }

  void Forget() {
    m_app.logs.clear();
    m_app.messages.clear();
  }

  RecordingApp m_app;
  FtpPump m_pump;
};

std::vector<std::pair<long, long>> Entries() {
  std::vector<std::pair<long, long>> entries;
  for (const tSubscriber& e : FTP_Subscribers()) entries.emplace_back(e.lWref, e.lHandle);
  return entries;
}

}  // namespace

TEST_F(FtpRegistryTest, PortTextsAreCheckedBeforeTheLibraryIsAsked) {
  auto o = Connected();
  const long lHandle = o->Handle();
  const long lWref = LibOrv_ObjToPtr(o);
  struct Case {
    const char* sPort;
    const char* sText;
  };
  for (const Case& c : {Case{"123456", "Connect to 10.0.0.1: TCP-Port-Eintrag ist zu lang: 123456"},
                        Case{"2a", "Connect to 10.0.0.1: TCP-Port-Eintrag ist nicht numerisch: 2a"},
                        Case{"", "Connect to 10.0.0.1: TCP-Port-Eintrag ist nicht numerisch: "}}) {
    Forget();
    EXPECT_EQ(FTP_Subscribe(o, "10.0.0.1", c.sPort, "user", "pwd"), 0);
    ASSERT_EQ(m_app.messages.size(), 1u) << c.sPort;
    EXPECT_EQ(m_app.messages[0].m, 1);
    EXPECT_EQ(m_app.messages[0].sModule, "FTP-Client");
    EXPECT_EQ(m_app.messages[0].sMsg, c.sText);
    EXPECT_EQ(m_app.messages[0].sAction, "");
    EXPECT_EQ(m_app.messages[0].lErrNumber, 0);
    EXPECT_TRUE(m_app.logs.empty()) << "the old connection is neither closed nor replaced";
    EXPECT_THAT(Entries(), ElementsAre(std::make_pair(lWref, lHandle)));
  }
}

TEST_F(FtpRegistryTest, PortNumbersOutsideTheTcpRangeAreRefusedByTheLibrary) {
  auto o = cOrvFtpClient::Create();
  for (const char* sPort : {"0", "65536", "-5", "1e10"}) {
    EXPECT_EQ(FTP_Subscribe(o, "127.0.0.1", sPort, "u", "p"), 0) << sPort;
  }
  EXPECT_TRUE(m_app.messages.empty());
  EXPECT_TRUE(FTP_Subscribers().empty());
  EXPECT_NE(FTP_Subscribe(o, "127.0.0.1", "65535", "u", "p"), 0);
}

TEST_F(FtpRegistryTest, ConnectingAgainClosesTheFirstConnection) {
  auto o = Connected();
  const long lFirst = o->Handle();
  Forget();
  ASSERT_TRUE(o->FtpConnect("127.0.0.1", "21", "user", "pwd"));
  const long lSecond = o->Handle();
  const long lWref = LibOrv_ObjToPtr(o);
  EXPECT_NE(lFirst, lSecond);
  EXPECT_THAT(LogTexts(24), ElementsAre("FTP_Unsubscribe " + std::to_string(lFirst),
                                        "FTP_Subscribe " + std::to_string(lSecond) + " (" + std::to_string(lWref) +
                                            "): SubscriberCnt=0",
                                        "ZEMO -> FTP: OrvFtpClientCreate FtpHandle=" + std::to_string(lSecond)));
  EXPECT_THAT(Entries(), ElementsAre(std::make_pair(lWref, lSecond)));

  // The library no longer knows the first handle: its answer finds no owner.
  Forget();
  OrvFtpClientDirReq(static_cast<int32_t>(lFirst), "/", "old", 10000, FTP_DirCallback, 0);
  ASSERT_TRUE(m_pump.Until([&] { return !LogTexts(1).empty(); }, 5s));
  EXPECT_THAT(LogTexts(1), ElementsAre("FTP-Dir-Event mit dem Handle " + std::to_string(lFirst) + kUndeliverableTail));
}

TEST_F(FtpRegistryTest, ReleasedObjectsLeaveAndTheOthersKeepTheirOrder) {
  auto a = Connected();
  auto b = Connected();
  auto c = Connected();
  auto unconnected = cOrvFtpClient::Create();
  const auto wa = LibOrv_ObjToPtr(a), wc = LibOrv_ObjToPtr(c);
  const long ha = a->Handle(), hb = b->Handle(), hc = c->Handle();
  Forget();
  b.reset();
  EXPECT_THAT(LogTexts(24), ElementsAre("FTP_Unsubscribe " + std::to_string(hb)));
  EXPECT_EQ(FTP_SubscriberCnt(), 2);
  EXPECT_THAT(Entries(), ElementsAre(std::make_pair(wa, ha), std::make_pair(wc, hc)));

  Forget();
  unconnected.reset();
  EXPECT_TRUE(m_app.logs.empty());
  EXPECT_EQ(FTP_SubscriberCnt(), 2);
}

TEST_F(FtpRegistryTest, CallbacksBuildTheTextsTheObjectReceives) {
  auto o = Connected();
  const int32_t h = static_cast<int32_t>(o->Handle());
  std::vector<DirEventRecord> dirs;
  std::vector<std::tuple<std::string, std::string, bool, long>> gets;
  std::vector<std::pair<std::string, long>> puts;
  o->DirEvent = [&](const std::string& sList, const std::string& sId, long lErr) {
    dirs.push_back({sList, sId, lErr, std::this_thread::get_id()});
  };
  o->GetEvent = [&](const std::string& sData, const std::string& sId, bool bEnd, long lErr) {
    gets.emplace_back(sData, sId, bEnd, lErr);
  };
  o->PutEvent = [&](const std::string& sId, long lErr) { puts.emplace_back(sId, lErr); };

  const char* asFolders[] = {"a", "b"};
  const char* asFiles[] = {"c.txt"};
  FTP_DirCallback(h, 0, "list", 0, 2, asFolders, 1, asFiles);
  FTP_DirCallback(h, 550, "none", 0, 0, nullptr, 0, nullptr);
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_EQ(dirs[0].sDirList, "a/\r\nb/\r\nc.txt\r\n");
  EXPECT_EQ(dirs[0].sRequestID, "list");
  EXPECT_EQ(dirs[0].lErrCode, 0);
  EXPECT_EQ(dirs[1].sDirList, "");
  EXPECT_EQ(dirs[1].lErrCode, 550);

  const std::string sBinary("a\0b\xFF\r\n", 6);
  FTP_GetCallback(h, 0, "bin", 0, sBinary.size(), sBinary.data(), 2);
  FTP_GetCallback(h, 0, "empty", 0, 0, nullptr, 0);
  // Texts from the library pass a buffer of 65536 bytes: longer ones are cut.
  const std::string sLongId(70000, 'i');
  FTP_PutCallback(h, -28, sLongId.c_str(), 0);
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0], std::make_tuple(sBinary, std::string("bin"), true, 0L));
  EXPECT_EQ(gets[1], std::make_tuple(std::string(), std::string("empty"), false, 0L));
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].first, std::string(65535, 'i'));
  EXPECT_EQ(puts[0].second, -28);
  EXPECT_TRUE(LogTexts(1).empty());
}

TEST_F(FtpRegistryTest, NothingIsDeliveredOrLoggedUnlessTheApplicationRuns) {
  auto o = Connected();
  const int32_t h = static_cast<int32_t>(o->Handle());
  int iEvents = 0;
  o->DirEvent = [&](const std::string&, const std::string&, long) { ++iEvents; };
  o->PutEvent = [&](const std::string&, long) { ++iEvents; };
  o->GetEvent = [&](const std::string&, const std::string&, bool, long) { ++iEvents; };
  auto callAll = [&] {
    FTP_DirCallback(h, 0, "d", 0, 0, nullptr, 0, nullptr);
    FTP_PutCallback(h, 0, "p", 0);
    FTP_GetCallback(h, 0, "g", 0, 1, "x", 1);
    FTP_DirCallback(999999, 0, "unknown handle", 0, 0, nullptr, 0, nullptr);
    FTP_LogCallback("library line");
  };
  Forget();
  for (long lStatus : {0L, 2L}) {
    m_app.SetStatus(lStatus);
    callAll();
  }
  OrvApp_Set(nullptr);
  callAll();
  OrvApp_Set(&m_app);
  EXPECT_EQ(iEvents, 0);
  EXPECT_TRUE(m_app.logs.empty());

  m_app.SetStatus(1);
  callAll();
  EXPECT_EQ(iEvents, 3);
  EXPECT_EQ(LogTexts(24), std::vector<std::string>{"library line"});
}

TEST_F(FtpRegistryTest, UndeliverableCallbacksAreLogged) {
  auto o = Connected();
  Forget();
  FTP_DirCallback(77, 0, "d", 0, 0, nullptr, 0, nullptr);
  FTP_PutCallback(-3, 0, "p", 0);
  FTP_GetCallback(0, 0, "g", 0, 0, nullptr, 1);
  EXPECT_THAT(LogTexts(1), ElementsAre("FTP-Dir-Event mit dem Handle 77" + kUndeliverableTail,
                                       "FTP-Put-Event mit dem Handle -3" + kUndeliverableTail,
                                       "FTP-Get-Event mit dem Handle 0" + kUndeliverableTail));
  EXPECT_EQ(m_app.logs.size(), 3u);
}

TEST_F(FtpRegistryTest, AHandlerMayReleaseOrReconnectItsOwnObject) {
  auto o = Connected();
  std::weak_ptr<cOrvFtpClient> watch = o;
  const long lHandle = o->Handle();
  bool bRanToTheEnd = false;
  o->DirEvent = [&](const std::string& sList, const std::string&, long) {
    o.reset();  // the window drops its client inside the event
    EXPECT_FALSE(watch.expired()) << "kept alive until the callback returns";
    bRanToTheEnd = sList == "x/\r\n";
  };
  const char* asFolders[] = {"x"};
  Forget();
  FTP_DirCallback(static_cast<int32_t>(lHandle), 0, "id", 0, 1, asFolders, 0, nullptr);
  EXPECT_TRUE(bRanToTheEnd);
  EXPECT_TRUE(watch.expired());
  EXPECT_THAT(LogTexts(24), ElementsAre("FTP_Unsubscribe " + std::to_string(lHandle)));
  EXPECT_EQ(FTP_SubscriberCnt(), 0);

  auto p = Connected();
  const long lOld = p->Handle();
  p->PutEvent = [&](const std::string&, long) { EXPECT_TRUE(p->FtpConnect("127.0.0.1", "21", "u", "p")); };
  FTP_PutCallback(static_cast<int32_t>(lOld), 0, "id", 0);
  EXPECT_NE(p->Handle(), lOld);
  EXPECT_THAT(Entries(), ElementsAre(std::make_pair(LibOrv_ObjToPtr(p), p->Handle())));
}

TEST_F(FtpRegistryTest, LibraryAnswersArriveOnThePumpingThread) {
  FtpTestServer server;
  server.WriteFile("/f.txt", "f");
  auto o = cOrvFtpClient::Create();
  ASSERT_TRUE(o->FtpConnect(server.Host(), server.PortText(), server.User(), server.Password()));
  std::vector<std::thread::id> threads;
  o->DirEvent = [&](const std::string& sList, const std::string&, long lErr) {
    EXPECT_EQ(sList, "f.txt\r\n");
    EXPECT_EQ(lErr, 0);
    threads.push_back(std::this_thread::get_id());
  };
  o->GetEvent = [&](const std::string& sData, const std::string&, bool, long) {
    EXPECT_EQ(sData, "f");
    threads.push_back(std::this_thread::get_id());
  };
  o->FtpDir("/", "d");
  o->FtpGet("/f.txt", "g");
  ASSERT_TRUE(m_pump.Until([&] { return threads.size() == 2; }));
  EXPECT_THAT(threads, ElementsAre(std::this_thread::get_id(), std::this_thread::get_id()));
  // The library's own lines reach the log as FTP traffic.
  bool bOpened = false;
  for (const std::string& s : LogTexts(24)) bOpened = bOpened || s.find(" opened") != std::string::npos;
  EXPECT_TRUE(bOpened);
}

TEST_F(FtpRegistryTest, SubscribeStartsTheLibraryAgainAfterShutdown) {
  FTP_Shutdown();
  auto o = cOrvFtpClient::Create();
  EXPECT_NE(FTP_Subscribe(o, "127.0.0.1", "21", "u", "p"), 0);
}

TEST_F(FtpRegistryTest, SubscribingNoObjectRegistersNothing) {
  EXPECT_EQ(FTP_Subscribe(nullptr, "127.0.0.1", "21", "u", "p"), 0);
  EXPECT_THAT(LogTexts(1), ElementsAre("FTP_Subscribe: lWref = 0"));
  EXPECT_EQ(FTP_SubscriberCnt(), 0);
}
