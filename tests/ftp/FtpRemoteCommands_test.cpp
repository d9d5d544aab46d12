// The remote commands, gets of any size into local files, progress and
// cancel, against the real pyftpdlib server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "FtpLibraryTestSupport.h"
#include "ShortWaits.h"
#include "TempFolder.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<std::pair<uint64_t, uint64_t>> g_progress;
int32_t g_lCancelHandle = 0;

int32_t OnProgress(int32_t lHandle, const char*, intptr_t, uint64_t lDone, uint64_t lTotal) {
  g_progress.emplace_back(lDone, lTotal);
  if (g_lCancelHandle == lHandle) OrvFtpClientCancel(lHandle);
  return 0;
}

class FtpRemoteCommandsTest : public FtpLibraryTest {
 protected:
  void SetUp() override {
    FtpLibraryTest::SetUp();
    g_progress.clear();
    g_lCancelHandle = 0;
  }
  TempFolder m_local;
};

}  // namespace

TEST_F(FtpRemoteCommandsTest, MakeRenameSizeAndDeleteWithTheirRefusals) {
  FtpTestServer server;
  server.MakeFolder("/a");
  server.WriteFile("/a/x.txt", "twelve bytes");
  server.MakeFolder("/a/full");
  server.WriteFile("/a/full/keep.txt", "k");
  const int32_t h = Connect(server);
  MkDir(h, "/a/new", "mkdir");
  Rename(h, "/a/x.txt", "y z.txt", "rename");
  Size(h, "/a/y z.txt", "size");
  Delete(h, "/a/y z.txt", "delete");
  Delete(h, "/a/new/", "rmdir");
  // Refusals: the server's code, or refused before anything is sent.
  Delete(h, "/a/gone.txt", "delete a missing file");
  Delete(h, "/a/full/", "delete a folder that is not empty");
  Rename(h, "/a/gone.txt", "other.txt", "rename a missing file");
  Size(h, "/a/full", "size of a folder");
  Rename(h, "/a/full/keep.txt", "../keep.txt", "a new name with a slash");
  ASSERT_TRUE(WaitForAnswers(10));
  std::vector<int32_t> codes;
  for (const FtpAnswer& a : Answers()) codes.push_back(a.lCode);
  EXPECT_THAT(codes, ElementsAre(0, 0, 0, 0, 0, 550, 550, 550, 550, -3));
  EXPECT_EQ(Answers()[2].lValue, 12);
  EXPECT_THAT(Names(server.LocalPath("/a")), ElementsAre("full"));
  EXPECT_TRUE(
      LogsContain("request a new name with a slash failed with -3: rename /a/full/keep.txt -> the new "
                  "name is no plain name"));
  EXPECT_EQ(server.LoginCount(), 1);
}

TEST_F(FtpRemoteCommandsTest, GetIntoAFileOfAnySizeAndLongName) {
  FtpTestServer server;
  std::string sData(20 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < sData.size(); ++i) sData[i] = static_cast<char>(i % 251);
  server.WriteFile("/big.bin", sData);
  const int32_t h = Connect(server);
  OrvFtpClientSetProgress(h, OnProgress);
  const std::string sLong(250, 'n');
  std::ofstream(m_local.Path() + "/" + sLong) << "old";
  GetFile(h, "/big.bin", m_local.Path() + "/" + sLong, "get");
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_TRUE(ReadLocal(m_local.Path() + "/" + sLong) == sData);
  EXPECT_THAT(Names(m_local.Path()), ElementsAre(sLong)) << "no temporary file is left";
  ASSERT_FALSE(g_progress.empty());
  const std::pair<uint64_t, uint64_t> whole(sData.size(), sData.size());
  EXPECT_EQ(g_progress.back(), whole);
}

// The reports are a few a second at most, and the last one before the
// answer is the whole, also for a put, whose data is all out well before
// the server's replies.
TEST_F(FtpRemoteCommandsTest, APutTellsItsWholeAndFewReportsBeforeIt) {
  FtpTestServer server;
  const std::string sLocal = m_local.Path() + "/put.bin";
  const std::string sData(5 * 1024 * 1024 + 3, 'p');
  std::ofstream(sLocal, std::ios::binary) << sData;
  const int fd = ::open(sLocal.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const int32_t h = Connect(server);
  OrvFtpClientSetProgress(h, OnProgress);
  const auto tStart = std::chrono::steady_clock::now();
  PutFile(h, "/put.bin", "put", "", fd, sData.size());
  ASSERT_TRUE(WaitForAnswers(1));
  const auto lQuarters = (std::chrono::steady_clock::now() - tStart) / 250ms;
  EXPECT_EQ(Only().lCode, 0);
  EXPECT_EQ(ReadLocal(server.LocalPath("/put.bin")).size(), sData.size());
  ASSERT_FALSE(g_progress.empty());
  const std::pair<uint64_t, uint64_t> whole(sData.size(), sData.size());
  EXPECT_EQ(g_progress.back(), whole);
  // One at once when the data is whole, otherwise one a quarter second.
  EXPECT_LE(static_cast<long long>(g_progress.size()), lQuarters + 2);
}

TEST_F(FtpRemoteCommandsTest, AFailedGetLeavesTheOldFileAlone) {
  const ShortWaits shortWaits;
  FtpTestServer server({"drop_data"});
  server.WriteFile("/big.bin", std::string(300 * 1024, 'b'));
  const int32_t h = Connect(server);
  std::ofstream(m_local.Path() + "/big.bin") << "old";
  GetFile(h, "/missing.bin", m_local.Path() + "/big.bin", "missing");
  GetFile(h, "/big.bin", m_local.Path() + "/big.bin", "broken off", 2000);
  GetFile(h, "/big.bin", m_local.Path() + "/no such folder/big.bin", "unwritable");
  ASSERT_TRUE(WaitForAnswers(3, 60s));
  EXPECT_EQ(Answers()[0].lCode, 550);
  EXPECT_NE(Answers()[1].lCode, 0);
  EXPECT_EQ(Answers()[2].lCode, -23);
  EXPECT_TRUE(LogsContain("request unwritable failed with -23: get /big.bin -> cannot create a file beside "));
  EXPECT_EQ(ReadLocal(m_local.Path() + "/big.bin"), "old");
  EXPECT_THAT(Names(m_local.Path()), ElementsAre("big.bin"));
}

TEST_F(FtpRemoteCommandsTest, CancelEndsAGetAndAPutAndLeavesNothingHalf) {
  FtpTestServer slow({"trickle"});
  slow.WriteFile("/slow.bin", std::string(64 * 1024, 's'));
  const int32_t hGet = Connect(slow);
  OrvFtpClientSetProgress(hGet, OnProgress);
  g_lCancelHandle = hGet;
  std::ofstream(m_local.Path() + "/slow.bin") << "old";
  GetFile(hGet, "/slow.bin", m_local.Path() + "/slow.bin", "get");
  Dir(hGet, "/", "after the cancel");
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].lCode, -42);
  EXPECT_EQ(Answers()[1].lCode, 0) << "the requests behind it run on";
  EXPECT_TRUE(LogsContain("request get failed with -42: RETR slow.bin -> cancelled"));
  EXPECT_FALSE(LogsContain("trying again"));
  EXPECT_EQ(ReadLocal(m_local.Path() + "/slow.bin"), "old");
  EXPECT_THAT(Names(m_local.Path()), ElementsAre("slow.bin"));

  // A put far too large to finish before the first progress is told.
  FtpTestServer server;
  const std::string sLocal = m_local.Path() + "/huge.bin";
  { std::ofstream(sLocal).close(); }
  fs::resize_file(sLocal, 4ULL << 30);
  const int fd = ::open(sLocal.c_str(), O_RDONLY | O_CLOEXEC);
  const int32_t hPut = Connect(server);
  OrvFtpClientSetProgress(hPut, OnProgress);
  g_lCancelHandle = hPut;
  PutFile(hPut, "/huge.bin", "put", "", fd, 4ULL << 30);
  ASSERT_TRUE(WaitForAnswers(3, 60s));
  EXPECT_EQ(Answers()[2].lCode, -42);
  EXPECT_THAT(Names(server.Root()), IsEmpty()) << "the temporary file is removed";
}
