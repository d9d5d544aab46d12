#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "FtpLibraryTestSupport.h"
#include "ShortWaits.h"
#include "TempFolder.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace

TEST_F(FtpLibraryTest, RefusalsCarryTheServersReplyCode) {
  FtpTestServer server;
  server.MakeFolder("/folder");
  server.WriteFile("/folder/file.txt", "a file, not a folder");
  const int32_t h = Connect(server);
  Dir(h, "/no such folder/", "dir");
  Get(h, "/no such file.txt", "get");
  Get(h, "/folder", "get of a folder");
  Put(h, "/folder/file.txt/x.txt", "put", "x");
  // Refused before it is sent: the log names it, not the put before it.
  Get(h, "/folder/", "");
  ASSERT_TRUE(WaitForAnswers(5));
  EXPECT_EQ(Answers()[0].lCode, 550);
  EXPECT_TRUE(Answers()[0].asFiles.empty());
  EXPECT_EQ(Answers()[1].lCode, 550);
  EXPECT_EQ(Answers()[1].sData, "");
  EXPECT_EQ(Answers()[2].lCode, 550);
  EXPECT_GE(Answers()[3].lCode, 550);
  EXPECT_THAT(Logs(), ::testing::Contains(HasSubstr("no such file.txt -> 550")));
  EXPECT_EQ(Answers()[4].lCode, -3);
  EXPECT_THAT(Logs(), ::testing::Contains(HasSubstr(": request failed with -3: get /folder/ -> the path names no file")));
  EXPECT_EQ(server.LoginCount(), 1) << "refusals keep the connection";
}

TEST_F(FtpLibraryTest, WrongPasswordGives530AndNoLogLineShowsAPassword) {
  FtpTestServer server;
  const int32_t h = Connect(server, "wrong-Secret-42");
  Dir(h, "/", "dir");
  Put(h, "/x.txt", "put", "data");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].lCode, 530);
  EXPECT_EQ(Answers()[1].lCode, 530);
  EXPECT_EQ(server.LoginCount(), 0);
  EXPECT_TRUE(LogsContain("PASS ***"));
  for (const std::string& s : Logs()) {
    EXPECT_THAT(s, ::testing::Not(HasSubstr("wrong-Secret-42")));
    EXPECT_THAT(s, ::testing::Not(HasSubstr(server.Password())));
  }
}

TEST_F(FtpLibraryTest, NoServerGivesMinusCurlCode) {
  const ShortWaits shortWaits;
  int iPort = 0;
  {
    FtpTestServer gone;
    iPort = gone.Port();
  }
  const int32_t h = OrvFtpClientCreate("127.0.0.1", static_cast<int16_t>(iPort), "u", "p");
  Dir(h, "/", "dir");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -7);
  EXPECT_TRUE(LogsContain("connect to 127.0.0.1:" + std::to_string(iPort)));
}

TEST_F(FtpLibraryTest, RefusedStorGivesTheServersCode) {
  for (const char* sKind : {"stor_552", "stor_553"}) {
    Answers().clear();
    FtpTestServer server({sKind});
    const int32_t h = Connect(server);
    Put(h, "/x.txt", sKind, "data");
    ASSERT_TRUE(WaitForAnswers(1));
    EXPECT_EQ(Only().lCode, std::stoi(std::string(sKind).substr(5)));
    EXPECT_TRUE(LogsContain("STOR .x.txt.")) << "under a temporary name";
    EXPECT_TRUE(LogsContain(".part -> " + std::string(sKind).substr(5)));
    EXPECT_FALSE(LogsContain("trying again")) << "a refusal is final";
  }
}

TEST_F(FtpLibraryTest, SessionRefusedAtGreeting) {
  const ShortWaits shortWaits;
  FtpTestServer server({"refuse_login"});
  const int32_t h = Connect(server);
  Dir(h, "/", "dir");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 421);
}

TEST_F(FtpLibraryTest, FiftyRequestsRunInOrderOverOneLogin) {
  FtpTestServer server;
  const int32_t h = Connect(server);
  for (int i = 0; i < 50; ++i) {
    const std::string sId = std::to_string(i);
    switch (i % 3) {
      case 0: Put(h, "/f" + sId + ".txt", sId, "content " + sId); break;
      case 1: Get(h, "/f" + std::to_string(i - 1) + ".txt", sId); break;
      default: Dir(h, "/", sId); break;
    }
  }
  ASSERT_TRUE(WaitForAnswers(50));
  for (int i = 0; i < 50; ++i) {
    const FtpAnswer& a = Answers()[i];
    ASSERT_EQ(a.sId, std::to_string(i));
    EXPECT_EQ(a.lCode, 0) << i;
    if (i % 3 == 1) {
      EXPECT_EQ(a.sData, "content " + std::to_string(i - 1));
    }
    if (i % 3 == 2) {
      EXPECT_EQ(a.asFiles.size(), static_cast<std::size_t>(i / 3 + 1));
    }
  }
  EXPECT_EQ(server.LoginCount(), 1);
  EXPECT_EQ(std::count_if(Logs().begin(), Logs().end(),
                          [](const std::string& s) { return s.find(" opened") != std::string::npos; }),
            1);
}

TEST_F(FtpLibraryTest, HandlesRunInParallel) {
  FtpTestServer slow({"trickle"});
  FtpTestServer fast;
  slow.WriteFile("/slow.bin", std::string(12 * 1024, 's'));
  fast.WriteFile("/fast.txt", "fast");
  const int32_t hSlow = Connect(slow);
  const int32_t hFast = Connect(fast);
  Get(hSlow, "/slow.bin", "slow");
  std::this_thread::sleep_for(100ms);
  Get(hFast, "/fast.txt", "fast");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].sId, "fast");
  EXPECT_EQ(Answers()[0].lHandle, hFast);
  EXPECT_EQ(Answers()[1].sId, "slow");
  EXPECT_EQ(Answers()[1].sData.size(), 12u * 1024);
}

TEST_F(FtpLibraryTest, IPv6Loopback) {
  FtpTestServer server({"normal", "::1"});
  server.WriteFile("/six.txt", "6");
  const int32_t h = OrvFtpClientCreate("::1", static_cast<int16_t>(server.Port()), server.User().c_str(),
                                       server.Password().c_str());
  const int32_t hBracketed = OrvFtpClientCreate("[::1]", static_cast<int16_t>(server.Port()),
                                                server.User().c_str(), server.Password().c_str());
  Dir(h, "/", "bare");
  Get(hBracketed, "/six.txt", "brackets");
  ASSERT_TRUE(WaitForAnswers(2));
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, 0) << a.sId;
}

TEST_F(FtpLibraryTest, SilentServerFailsAfterTheInactivityLimitAndThreeRetries) {
  FtpTestServer mute({"never_answer"});
  const int32_t h = Connect(mute);
  const auto start = std::chrono::steady_clock::now();
  Dir(h, "/", "dir", 800);
  ASSERT_TRUE(WaitForAnswers(1));
  const auto elapsed = Since(start);
  EXPECT_EQ(Only().lCode, -28);
  // Four attempts of 800 ms, with 1 s, 2 s and 4 s between them.
  EXPECT_GE(elapsed, 10000ms);
  EXPECT_LT(elapsed, 14000ms);
  EXPECT_EQ(std::count_if(Logs().begin(), Logs().end(),
                          [](const std::string& s) { return s.find("; trying again in ") != std::string::npos; }),
            3);
  EXPECT_TRUE(LogsContain("request dir failed with -28: connect to 127.0.0.1:" + mute.PortText() +
                          " -> no reply and no data for 800 ms; trying again in 4 s (3 of 3)"));
  m_pump.For(500ms);
  EXPECT_EQ(Answers().size(), 1u) << "exactly one callback";
}

TEST_F(FtpLibraryTest, ShutdownDoesNotWaitForTheAnswerToQuit) {
  FtpTestServer server({"no_quit_reply"});
  const int32_t h = Connect(server);
  Dir(h, "/", "dir");
  ASSERT_TRUE(WaitForAnswers(1));
  ASSERT_EQ(Only().lCode, 0);
  const auto start = std::chrono::steady_clock::now();
  OrvFtpClientShutdown();
  EXPECT_LT(Since(start), 1000ms);
  EXPECT_THAT(server.Commands(), Contains("QUIT"));
}

TEST_F(FtpLibraryTest, ServerThatNeverConfirmsATransferTimesOut) {
  const ShortWaits shortWaits;
  FtpTestServer server({"no_confirm"});
  server.WriteFile("/f.txt", "data");
  const int32_t h = Connect(server);
  Get(h, "/f.txt", "get", 800);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -28);
  EXPECT_EQ(Only().sData, "");

  // A server that logs in and then keeps quiet times out the same way.
  FtpTestServer muteLater({"mute_after_login"});
  const int32_t h2 = Connect(muteLater);
  Dir(h2, "/", "dir", 800);
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].lCode, -28);
}

TEST_F(FtpLibraryTest, ConnectionDroppedWhileIdleIsOpenedAgain) {
  FtpTestServer server({"short_idle"});
  server.WriteFile("/f.txt", "data");
  const int32_t h = Connect(server);
  Get(h, "/f.txt", "before");
  ASSERT_TRUE(WaitForAnswers(1));
  m_pump.For(1800ms);
  Get(h, "/f.txt", "after");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_EQ(Answers()[1].sData, "data");
  EXPECT_EQ(server.LoginCount(), 2);
  EXPECT_EQ(std::count_if(Logs().begin(), Logs().end(),
                          [](const std::string& s) { return s.find(" opened") != std::string::npos; }),
            2);
  EXPECT_TRUE(LogsContain(" closed"));
}

TEST_F(FtpLibraryTest, SlowButSteadyTransferIsNoTimeout) {
  FtpTestServer server({"trickle"});
  const std::string sData(8 * 1024, 't');
  server.WriteFile("/slow.txt", sData);
  const int32_t h = Connect(server);
  const auto start = std::chrono::steady_clock::now();
  Get(h, "/slow.txt", "slow", 600);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_GT(Since(start), 600ms) << "the whole transfer takes longer than the limit";
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_TRUE(Only().sData == sData);
}

TEST_F(FtpLibraryTest, DataConnectionDroppedMidTransfer) {
  const ShortWaits shortWaits;
  FtpTestServer server({"drop_data"});
  server.WriteFile("/big.bin", std::string(300 * 1024, 'b'));
  server.WriteFile("/small.txt", "small");
  const int32_t h = Connect(server);
  Get(h, "/big.bin", "big");
  Get(h, "/small.txt", "small");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_NE(Answers()[0].lCode, 0);
  EXPECT_EQ(Answers()[0].sData, "");
  EXPECT_EQ(Answers()[1].lCode, 0) << "the handle goes on working";
  EXPECT_EQ(Answers()[1].sData, "small");
  m_pump.For(200ms);
  EXPECT_EQ(Answers().size(), 2u);
}

TEST_F(FtpLibraryTest, CloseCancelsOutstandingRequestsWithoutCallbacks) {
  FtpTestServer slow({"trickle"});
  slow.WriteFile("/slow.bin", std::string(64 * 1024, 's'));
  FtpTestServer normal;
  const int32_t hSlow = Connect(slow);
  const int32_t hDone = Connect(normal);
  Get(hSlow, "/slow.bin", "running");
  Dir(hSlow, "/", "queued");
  Dir(hDone, "/", "finished but not yet delivered");
  // Let the slow transfer start and the other answer wait in the queue.
  std::this_thread::sleep_for(500ms);
  const auto start = std::chrono::steady_clock::now();
  OrvFtpClientClose(hSlow, -1);
  OrvFtpClientClose(hDone, -1);
  EXPECT_LT(Since(start), 500ms) << "closing does not wait for the server";
  m_pump.For(1000ms);
  EXPECT_TRUE(Answers().empty());
  EXPECT_TRUE(LogsContain("closed"));
  EXPECT_EQ(normal.Commands().back(), "QUIT") << "an idle connection is closed politely";

  // A request on a closed handle still gets its one answer.
  Dir(hSlow, "/", "after close");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -43);
}

TEST_F(FtpLibraryTest, ShutdownWhileATransferRunsAndInitAgain) {
  {
    FtpTestServer slow({"trickle"});
    slow.WriteFile("/slow.bin", std::string(256 * 1024, 's'));
    const int32_t h = Connect(slow);
    Get(h, "/slow.bin", "running");
    Put(h, "/queued.txt", "queued", "q");
    std::this_thread::sleep_for(400ms);
    const auto start = std::chrono::steady_clock::now();
    OrvFtpClientShutdown();
    EXPECT_LT(Since(start), 2000ms);
    m_pump.For(300ms);
    EXPECT_TRUE(Answers().empty());
  }
  OrvFtpClientInit(nullptr);
  FtpTestServer server;
  server.WriteFile("/again.txt", "again");
  const int32_t h = Connect(server);
  ASSERT_NE(h, 0);
  Get(h, "/again.txt", "again");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().sData, "again");
}

TEST_F(FtpLibraryTest, CallbacksRunOnlyInsidePumpOnThePumpingThread) {
  FtpTestServer server;
  const int32_t h = Connect(server);
  Dir(0, "/", "no such handle");
  Dir(h, "/", "real");
  EXPECT_TRUE(Answers().empty()) << "never inside the request call";
  // Wait for both answers without pumping, then pump once.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (m_pump.Notifications() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(Answers().empty());
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].lCode, -43);
  EXPECT_EQ(Answers()[1].lCode, 0);
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.thread, std::this_thread::get_id());
}

TEST_F(FtpLibraryTest, PumpInsideACallbackDoesNothing) {
  static std::vector<std::string> order;
  static int iNestedAnswers = -1;
  order.clear();
  auto onPut = [](int32_t, int32_t, const char* sId, intptr_t) -> int32_t {
    order.emplace_back(sId);
    if (order.size() == 1) {
      // A nested event loop pumps while the first callback runs.
      std::this_thread::sleep_for(300ms);
      OrvFtpClientPump();
      iNestedAnswers = static_cast<int>(order.size());
    }
    return 0;
  };
  OrvFtpClientPutReq(0, "/a", "first", 0, nullptr, kLimitMs, onPut, 0);
  OrvFtpClientPutReq(0, "/b", "second", 0, nullptr, kLimitMs, onPut, 0);
  OrvFtpClientPutReq(0, "/c", "third", 0, nullptr, kLimitMs, onPut, 0);
  ASSERT_TRUE(m_pump.Until([] { return order.size() == 3; }, 5s));
  EXPECT_EQ(iNestedAnswers, 1);
  EXPECT_THAT(order, ElementsAre("first", "second", "third"));
}

TEST_F(FtpLibraryTest, ShutdownInsideACallbackDropsTheRest) {
  static int iCalls = 0;
  iCalls = 0;
  auto onPut = [](int32_t, int32_t, const char*, intptr_t) -> int32_t {
    ++iCalls;
    OrvFtpClientShutdown();  // the program ends from inside an event
    return 0;
  };
  OrvFtpClientPutReq(0, "/a", "first", 0, nullptr, kLimitMs, onPut, 0);
  OrvFtpClientPutReq(0, "/b", "second", 0, nullptr, kLimitMs, onPut, 0);
  m_pump.For(300ms);
  EXPECT_EQ(iCalls, 1);
}

// A process may end without shutting the library down; its threads must not
// outlive the state they use.
TEST(FtpLibraryExitTest, ProcessEndsCleanlyWithoutShutdown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // A server that accepts (in the kernel) and never greets.
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(s, 4) != 0 ||
            ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
          std::exit(3);
        OrvFtpClientInit([](const char*) -> int32_t { return 0; });
        OrvFtpClientSetNotifier([] {});
        const int32_t h = OrvFtpClientCreate("127.0.0.1", static_cast<int16_t>(ntohs(addr.sin_port)), "u", "p");
        OrvFtpClientDirReq(h, "/", "pending", 10000, nullptr, 0);
        std::this_thread::sleep_for(200ms);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
