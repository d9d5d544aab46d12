// Puts against real servers deliver whole files or none: missing folders are
// made, the data travels under a temporary name, passing faults are tried
// again, and what cannot be finished is cleared away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "FtpLibraryTestSupport.h"
#include "ShortWaits.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Everything(const fs::path& root) {
  std::vector<std::string> asNames;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
    asNames.push_back(fs::relative(entry.path(), root).string() + (entry.is_directory() ? "/" : ""));
  std::sort(asNames.begin(), asNames.end());
  return asNames;
}

long Count(const std::vector<std::string>& asLines, const std::string& sPart) {
  return std::count_if(asLines.begin(), asLines.end(),
                       [&](const std::string& s) { return s.find(sPart) != std::string::npos; });
}

}  // namespace

using FtpWholeFilePutTest = FtpLibraryTest;

TEST_F(FtpWholeFilePutTest, MakesMissingFoldersAndNeverShowsAHalfFile) {
  FtpTestServer server;
  std::string sData(24 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < sData.size(); ++i) sData[i] = static_cast<char>(i * 7 + i / 4096);
  const int32_t h = Connect(server);
  Dir(h, "/in/", "a listing makes no folder");
  Put(h, "/in/cam7/2026-12-08/big.bin", "put", sData);
  // A receiver that watches the folder sees the final name only with the
  // whole file behind it.
  const fs::path final = server.LocalPath("/in/cam7/2026-12-08/big.bin");
  bool bSeenHalf = false;
  ASSERT_TRUE(m_pump.Until(
      [&] {
        std::error_code ec;
        const auto lSize = fs::file_size(final, ec);
        if (!ec && lSize != sData.size()) bSeenHalf = true;
        return Answers().size() == 2;
      },
      30s));
  EXPECT_EQ(Answers()[0].lCode, 550);
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_FALSE(bSeenHalf);
  EXPECT_THAT(server.Commands(), Contains(HasSubstr("STOR .big.bin."))) << "under a temporary name first";
  EXPECT_THAT(server.Commands(), Contains("RNTO big.bin"));
  EXPECT_EQ(server.ReadFile("/in/cam7/2026-12-08/big.bin"), sData);
  EXPECT_THAT(Everything(server.Root()),
              ElementsAre("in/", "in/cam7/", "in/cam7/2026-12-08/", "in/cam7/2026-12-08/big.bin"));

  // The rename replaces an older file of the same name.
  Put(h, "/in/cam7/2026-12-08/big.bin", "again", "new");
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[2].lCode, 0);
  EXPECT_EQ(server.ReadFile("/in/cam7/2026-12-08/big.bin"), "new");
}

TEST_F(FtpWholeFilePutTest, AFolderTheServerWillNotMakeFailsThePut) {
  FtpTestServer server({"no_mkd"});
  const int32_t h = Connect(server);
  Put(h, "/new/x.txt", "put", "x");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 550);
  EXPECT_THAT(server.Commands(), Contains("MKD new"));
  EXPECT_FALSE(LogsContain("trying again"));
  EXPECT_THAT(Everything(server.Root()), IsEmpty());
}

TEST_F(FtpWholeFilePutTest, AServerThatWillNotRenameGetsTheDataUnderItsName) {
  FtpTestServer server({"no_rename"});
  const int32_t h = Connect(server);
  Put(h, "/a.txt", "first", "first");
  Put(h, "/b.txt", "second", "second");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].lCode, 0);
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_EQ(server.ReadFile("/a.txt"), "first");
  EXPECT_EQ(server.ReadFile("/b.txt"), "second");
  EXPECT_THAT(Everything(server.Root()), ElementsAre("a.txt", "b.txt")) << "no temporary file is left";
  EXPECT_TRUE(LogsContain("request first: the server refuses to rename .a.txt."));
  EXPECT_TRUE(LogsContain("the data goes once more, directly under a.txt"));
  // The connection remembers: the second put asks no more.
  EXPECT_EQ(Count(server.Commands(), "RNFR"), 1);
  // Every transfer is in the root: one change of folder per log-in (the
  // refused rename ends the first connection).
  EXPECT_EQ(Count(server.Commands(), "CWD"), Count(server.Commands(), "USER"));
}

TEST_F(FtpWholeFilePutTest, ASizeThatDoesNotMatchFailsThePutAndNothingIsRenamed) {
  FtpTestServer server({"wrong_size"});
  const int32_t h = Connect(server);
  Put(h, "/x.txt", "put", "twelve bytes");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -18);
  EXPECT_TRUE(LogsContain("the server holds 1 bytes of the 12 sent"));
  EXPECT_THAT(server.Commands(), Not(Contains(HasSubstr("RNFR"))));
  EXPECT_THAT(Everything(server.Root()), IsEmpty()) << "the temporary file is removed";
}

TEST_F(FtpWholeFilePutTest, AnUploadBrokenOffGoesOnFromWhatTheServerHolds) {
  FtpTestServer server({"drop_first_upload"});
  std::string sData(1024 * 1024, '\0');
  for (std::size_t i = 0; i < sData.size(); ++i) sData[i] = static_cast<char>(i * 7 + i / 4096);
  sData += "end";
  const int32_t h = Connect(server);
  const auto start = std::chrono::steady_clock::now();
  Put(h, "/x.bin", "put", sData);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(server.ReadFile("/x.bin") == sData) << "byte for byte";
  EXPECT_THAT(Everything(server.Root()), ElementsAre("x.bin"));
  // The server's 426, or the reset connection when that comes first.
  EXPECT_TRUE(LogsContain(": STOR .x.bin."));
  EXPECT_TRUE(LogsContain("; trying again in 1 s (1 of 3)"));
  EXPECT_TRUE(LogsContain("request put: put /x.bin resumed from byte ")) << ::testing::PrintToString(Logs());
  // Sent once whole up to the break, then the rest appended to the same
  // temporary file once its size was asked, and renamed once.
  EXPECT_EQ(Count(server.Commands(), "STOR .x.bin."), 1);
  EXPECT_EQ(Count(server.Commands(), "APPE .x.bin."), 1);
  EXPECT_EQ(Count(server.Commands(), "SIZE .x.bin."), 2) << "before the rest and after it";
  EXPECT_EQ(Count(server.Commands(), "DELE"), 0);
  EXPECT_EQ(Count(server.Commands(), "RNTO x.bin"), 1);
}

TEST_F(FtpWholeFilePutTest, ATemporaryLeftByALostConnectionGoesWithTheNextPut) {
  const ShortWaits shortWaits;
  FtpTestServer server({"close_control_on_broken"});
  const int32_t h = Connect(server);
  Put(h, "/broken.bin", "lost", std::string(4 * 1024 * 1024, 'b'));
  ASSERT_TRUE(WaitForAnswers(1, 30s));
  EXPECT_LT(Only().lCode, 0);
  ASSERT_EQ(Everything(server.Root()).size(), 1u) << "the connection was gone before the temporary could go";
  Put(h, "/in/good.bin", "next", "good");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_THAT(Everything(server.Root()), ElementsAre("in/", "in/good.bin"));
  EXPECT_EQ(Count(server.Commands(), "DELE /.broken.bin."), 1);
}

TEST_F(FtpWholeFilePutTest, CloseEndsAWaitingRetryAtOnce) {
  int iPort = 0;
  {
    FtpTestServer gone;
    iPort = gone.Port();
  }
  const int32_t h = OrvFtpClientCreate("127.0.0.1", static_cast<int16_t>(iPort), "u", "p");
  Put(h, "/x.txt", "put", "x");
  ASSERT_TRUE(m_pump.Until([] { return LogsContain("trying again in 1 s"); }, 5s));
  const auto start = std::chrono::steady_clock::now();
  OrvFtpClientClose(h, -1);
  OrvFtpClientShutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_THAT(Answers(), IsEmpty());
}
