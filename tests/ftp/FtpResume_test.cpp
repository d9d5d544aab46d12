// Transfers that a server breaks off go on, when tried again, from the
// bytes that arrived, or from byte 0 on a server that will not go on with a
// file; either way the file arrives whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "FtpLibraryTestSupport.h"
#include "TempFolder.h"

using ::testing::ElementsAre;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Bytes that differ from one 64 KiB block to the next, so that a block in
// the wrong place shows.
std::string Patterned(std::size_t lSize) {
  std::string s(lSize, '\0');
  for (std::size_t i = 0; i < lSize; ++i) s[i] = static_cast<char>(i * 13 + i / 65536);
  return s;
}

std::vector<std::string> Starting(const std::vector<std::string>& asLines, const std::string& sStart) {
  std::vector<std::string> asFound;
  std::copy_if(asLines.begin(), asLines.end(), std::back_inserter(asFound),
               [&](const std::string& s) { return s.rfind(sStart, 0) == 0; });
  return asFound;
}

std::vector<std::pair<uint64_t, uint64_t>> g_progress;

int32_t OnProgress(int32_t, const char*, intptr_t, uint64_t lDone, uint64_t lTotal) {
  g_progress.emplace_back(lDone, lTotal);
  return 0;
}

class FtpResumeTest : public FtpLibraryTest {
 protected:
  void SetUp() override {
    FtpLibraryTest::SetUp();
    g_progress.clear();
  }
  TempFolder m_local;
};

}  // namespace

// drop_data breaks off every download after its first 64 KiB: the second
// attempt asks for the rest with REST and gets it whole.
TEST_F(FtpResumeTest, AGetBrokenOffGoesOnFromTheBytesItHas) {
  FtpTestServer server({"drop_data"});
  const std::string sData = Patterned(100 * 1024 + 17);
  server.WriteFile("/big.bin", sData);
  const std::string sLocal = m_local.Path() + "/big.bin";
  std::ofstream(sLocal) << "old";
  const int32_t h = Connect(server);
  OrvFtpClientSetProgress(h, OnProgress);
  GetFile(h, "/big.bin", sLocal, "get");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_TRUE(ReadLocal(sLocal) == sData) << "byte for byte";
  EXPECT_THAT(Names(m_local.Path()), ElementsAre("big.bin")) << "no temporary file is left";

  EXPECT_EQ(Starting(server.Commands(), "RETR ").size(), 2u);
  const std::vector<std::string> asRest = Starting(server.Commands(), "REST ");
  ASSERT_EQ(asRest.size(), 1u);
  const std::string sFrom = asRest[0].substr(5);
  EXPECT_GT(std::stoll(sFrom), 0);
  EXPECT_TRUE(LogsContain("request get: get /big.bin resumed from byte " + sFrom)) << ::testing::PrintToString(Logs());

  // Progress counts what the first attempt received as done.
  ASSERT_FALSE(g_progress.empty());
  EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end(), [](const auto& a, const auto& b) {
    return a.first < b.first;
  })) << ::testing::PrintToString(g_progress);
  EXPECT_EQ(g_progress.back(), std::make_pair(uint64_t{sData.size()}, uint64_t{sData.size()}));
}

// no_resume breaks off its first download and its first upload and answers
// REST and APPE with 502: both transfers start again from byte 0.
TEST_F(FtpResumeTest, AServerThatWillNotGoOnWithAFileGetsItFromByteZero) {
  FtpTestServer server({"no_resume"});
  const std::string sData = Patterned(300 * 1024);
  server.WriteFile("/down.bin", sData);
  const std::string sLocal = m_local.Path() + "/down.bin";
  GetFile(Connect(server), "/down.bin", sLocal, "get");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_TRUE(ReadLocal(sLocal) == sData);
  EXPECT_THAT(Names(m_local.Path()), ElementsAre("down.bin"));
  EXPECT_TRUE(
      LogsContain("request get: the server refuses REST 65536 (502 REST not implemented.); "
                  "the get starts again from byte 0"))
      << ::testing::PrintToString(Logs());
  EXPECT_EQ(Starting(server.Commands(), "RETR ").size(), 2u);

  // A new connection, which has not yet learnt that the server will not.
  const std::string sUp = Patterned(1024 * 1024 + 5);
  Put(Connect(server), "/up.bin", "put", sUp);
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_TRUE(server.ReadFile("/up.bin") == sUp);
  EXPECT_THAT(Names(server.Root()), ElementsAre("down.bin", "up.bin")) << "no temporary file is left";
  EXPECT_TRUE(LogsContain("request put: the server refuses APPE .up.bin."));
  EXPECT_TRUE(LogsContain(" (502 APPE not implemented.); the put starts again from byte 0"));
  EXPECT_EQ(Starting(server.Commands(), "APPE .up.bin.").size(), 1u);
  EXPECT_EQ(Starting(server.Commands(), "STOR .up.bin.").size(), 2u);
  EXPECT_EQ(Starting(server.Commands(), "RNTO up.bin").size(), 1u);
  EXPECT_FALSE(LogsContain("resumed from byte")) << "neither was";
}

// A server that tells each download's size as it opens it is asked for it
// with SIZE once only; that told size still catches a download that ends
// short although the server calls it complete, which is fetched anew, and
// the progress knows the whole.
TEST_F(FtpResumeTest, AnAnnouncedSizeStandsInForSizeAndStillCatchesAShortDownload) {
  FtpTestServer server({"announce_size"});
  const std::string sSmall = Patterned(5000);
  const std::string sBig = Patterned(200 * 1024 + 3);
  server.WriteFile("/small.bin", sSmall);
  server.WriteFile("/big.bin", sBig);
  const int32_t h = Connect(server);
  OrvFtpClientSetProgress(h, OnProgress);
  GetFile(h, "/small.bin", m_local.Path() + "/small.bin", "small");
  GetFile(h, "/big.bin", m_local.Path() + "/big.bin", "big");
  ASSERT_TRUE(WaitForAnswers(2));
  for (const FtpAnswer& a : Answers()) EXPECT_EQ(a.lCode, 0) << a.sId;
  EXPECT_TRUE(ReadLocal(m_local.Path() + "/small.bin") == sSmall);
  EXPECT_TRUE(ReadLocal(m_local.Path() + "/big.bin") == sBig);
  EXPECT_TRUE(LogsContain("the server announced " + std::to_string(sBig.size()) + " bytes and sent 65536"))
      << ::testing::PrintToString(Logs());

  std::vector<std::string> asSeen;
  for (const std::string& s : server.Commands())
    if (s.rfind("SIZE ", 0) == 0 || s.rfind("RETR ", 0) == 0 || s.rfind("REST ", 0) == 0) asSeen.push_back(s);
  EXPECT_THAT(asSeen, ElementsAre("SIZE small.bin", "RETR small.bin", "RETR big.bin", "RETR big.bin"));
  ASSERT_FALSE(g_progress.empty());
  EXPECT_EQ(g_progress.back(), std::make_pair(uint64_t{sBig.size()}, uint64_t{sBig.size()}));
}
