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

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> asNames;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) asNames.push_back(entry.path().filename());
  return asNames;
}

std::string AllByteValues(int iRepeat) {
  std::string s;
  for (int r = 0; r < iRepeat; ++r)
    for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  s += "\r\n\n\r";
  return s;
}

}  // namespace

TEST_F(FtpLibraryTest, CreateChecksArgumentsAndNeverReusesHandles) {
  EXPECT_EQ(OrvFtpClientCreate("", 21, "u", "p"), 0);
  EXPECT_EQ(OrvFtpClientCreate("127.0.0.1", 0, "u", "p"), 0);
  EXPECT_EQ(OrvFtpClientCreate("evil@127.0.0.1", 21, "u", "p"), 0);
  EXPECT_EQ(OrvFtpClientCreate("127.0.0.1/x", 21, "u", "p"), 0);
  EXPECT_EQ(OrvFtpClientCreate("127.0.0.1", 21, "u\r\nDELE x", "p"), 0);
  EXPECT_EQ(OrvFtpClientCreate("127.0.0.1", 21, "u", "p\nQUIT"), 0);

  const int32_t h1 = OrvFtpClientCreate("127.0.0.1", 21, "u", "p");
  const int32_t h2 = OrvFtpClientCreate("::1", -1, "u", "p");  // port 65535
  EXPECT_NE(h1, 0);
  EXPECT_NE(h2, 0);
  EXPECT_NE(h1, h2);
  OrvFtpClientClose(h1, -1);
  const int32_t h3 = OrvFtpClientCreate("[::1]", 21, "", "");
  EXPECT_NE(h3, 0);
  EXPECT_NE(h3, h1);

  OrvFtpClientShutdown();
  EXPECT_EQ(OrvFtpClientCreate("127.0.0.1", 21, "u", "p"), 0) << "not running after shutdown";
  EXPECT_TRUE(Logs().empty()) << "creating connections talks to nobody";
}

// The same tree must come out the same from a server speaking MLSD, one
// with only Unix-style LIST and one with only Windows-style LIST.
class FtpListingTest : public FtpLibraryTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FtpListingTest, FoldersAndFilesComeOutExactly) {
  FtpTestServer server({GetParam()});
  server.MakeFolder("/top/sub folder");
  server.MakeFolder("/top/Ordner \xC3\xA4\xC3\xB6\xC3\xBC");
  server.MakeFolder("/top/.hidden dir");
  server.WriteFile("/top/file with  two spaces.txt", "x");
  server.WriteFile("/top/Gr\xC3\xBC\xC3\x9F" "e.bin", "yy");
  server.WriteFile("/top/.profile", "");
  server.WriteFile("/top/100%;semi[1].txt", "zzz");
  server.WriteFile("/top/sub folder/inner.txt", "i");

  const int32_t h = Connect(server);
  Dir(h, "/top/", "top");
  Dir(h, "/top/sub folder/", "sub");
  Dir(h, "/top/sub folder", "sub without slash");
  Dir(h, "/top/.hidden dir/", "empty");
  ASSERT_TRUE(WaitForAnswers(4)) << server.ServerLog();

  const FtpAnswer& top = Answers()[0];
  EXPECT_EQ(top.lCode, 0);
  EXPECT_EQ(top.sId, "top");
  EXPECT_THAT(top.asFolders,
              UnorderedElementsAre("sub folder", "Ordner \xC3\xA4\xC3\xB6\xC3\xBC", ".hidden dir"));
  EXPECT_THAT(top.asFiles, UnorderedElementsAre("file with  two spaces.txt", "Gr\xC3\xBC\xC3\x9F" "e.bin",
                                                ".profile", "100%;semi[1].txt"));
  for (int i : {1, 2}) {
    EXPECT_EQ(Answers()[i].lCode, 0);
    EXPECT_TRUE(Answers()[i].asFolders.empty());
    EXPECT_THAT(Answers()[i].asFiles, ElementsAre("inner.txt"));
  }
  EXPECT_EQ(Answers()[3].lCode, 0);
  EXPECT_TRUE(Answers()[3].asFolders.empty());
  EXPECT_TRUE(Answers()[3].asFiles.empty());
  EXPECT_EQ(server.LoginCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(ServerKinds, FtpListingTest, ::testing::Values("normal", "unix_list", "dos_list"));

// Names that are no plain names are left out, as the server sent them
// (a CR inside a name included), and a listing without end fails once.
TEST_F(FtpLibraryTest, HostileListingsLeaveOutNamesAndEndAtTheirBounds) {
  FtpTestServer names({"hostile_names"});
  FtpTestServer unix({"unix_list"});
  unix.WriteFile("/cr\rname.txt", "x");
  unix.WriteFile("/back\\slash", "x");
  FtpTestServer endless({"endless_line"});
  Dir(Connect(names), "/", "names");
  ASSERT_TRUE(WaitForAnswers(1));
  Dir(Connect(unix), "/", "unix");
  ASSERT_TRUE(WaitForAnswers(2));
  Dir(Connect(endless), "/", "endless");
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[0].lCode, 0);
  EXPECT_THAT(Answers()[0].asFiles, UnorderedElementsAre("back\\..\\..\\evilbs", "good.txt"));
  EXPECT_THAT(Answers()[0].asFolders, ElementsAre("goodfolder"));
  EXPECT_THAT(Answers()[1].asFiles, ElementsAre("back\\slash"));
  EXPECT_EQ(Answers()[2].lCode, -63);
  const std::vector<std::string> commands = endless.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "MLSD"), 1);
  int iLeftOut = 0, iTooLong = 0;
  for (const std::string& s : Logs()) {
    iLeftOut += s.find("entries of the listing of / left out") != std::string::npos ||
                s.find("entry of the listing of / left out") != std::string::npos;
    iTooLong += s.find("failed with -63: MLSD -> a line of the listing is longer than 65536 bytes") != std::string::npos;
  }
  EXPECT_EQ(iLeftOut, 2);
  EXPECT_EQ(iTooLong, 1);
}

TEST_F(FtpLibraryTest, ServerWithoutMlsdIsAskedForItOnlyOnce) {
  FtpTestServer server({"unix_list"});
  server.WriteFile("/a.txt", "a");
  const int32_t h = Connect(server);
  Dir(h, "/", "1");
  Get(h, "/a.txt", "between");
  Dir(h, "/", "2");
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[1].sData, "a");
  EXPECT_THAT(Answers()[2].asFiles, ElementsAre("a.txt"));
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "MLSD"), 1);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST"), 2);
  EXPECT_EQ(server.LoginCount(), 1);
}

TEST_F(FtpLibraryTest, LinksInAUnixListingAreFollowedOnce) {
  FtpTestServer server({"unix_list"});
  server.MakeFolder("/real");
  server.WriteFile("/real/inside.txt", "in");
  server.WriteFile("/plain.txt", "plain");
  fs::create_directory_symlink("real", server.LocalPath("/linkdir"));
  fs::create_symlink("plain.txt", server.LocalPath("/linkfile"));
  fs::create_symlink("nowhere", server.LocalPath("/dangling"));
  const int32_t h = Connect(server);
  Dir(h, "/", "root");
  Dir(h, "/linkdir/", "through the link");
  Get(h, "/linkfile", "link to a file");
  Get(h, "/dangling", "dangling link");
  ASSERT_TRUE(WaitForAnswers(4));
  EXPECT_THAT(Answers()[0].asFolders, UnorderedElementsAre("linkdir", "real"));
  EXPECT_THAT(Answers()[0].asFiles, UnorderedElementsAre("linkfile", "dangling", "plain.txt"));
  EXPECT_THAT(Answers()[1].asFiles, ElementsAre("inside.txt"));
  EXPECT_EQ(Answers()[2].sData, "plain");
  EXPECT_EQ(Answers()[3].lCode, 550);
  // A look into each link, none into the other entries.
  const std::vector<std::string> commands = server.Commands();
  EXPECT_THAT(commands, Contains("CWD /dangling"));
  EXPECT_THAT(commands, Contains("CWD /linkfile"));
  EXPECT_THAT(commands, Not(Contains("CWD /real")));
  EXPECT_THAT(commands, Not(Contains("CWD /plain.txt")));
}

TEST_F(FtpLibraryTest, ListingOf40000Entries) {
  FtpTestServer server;
  server.MakeFolder("/big");
  for (int i = 0; i < 1000; ++i) server.MakeFolder("/big/d" + std::to_string(i));
  for (int i = 0; i < 39000; ++i) server.WriteFile("/big/f" + std::to_string(i) + ".txt", "");
  const int32_t h = Connect(server);
  Dir(h, "/big/", "big");
  ASSERT_TRUE(WaitForAnswers(1, 120s));
  const FtpAnswer& a = Only();
  EXPECT_EQ(a.lCode, 0);
  EXPECT_EQ(a.asFolders.size(), 1000u);
  EXPECT_EQ(a.asFiles.size(), 39000u);
  EXPECT_NE(std::find(a.asFiles.begin(), a.asFiles.end(), "f38999.txt"), a.asFiles.end());
  EXPECT_NE(std::find(a.asFolders.begin(), a.asFolders.end(), "d999"), a.asFolders.end());
}

TEST_F(FtpLibraryTest, GetDeliversAFileOfOneChunkWholeAndOnlyTheFirstChunkOfALargerOne) {
  FtpTestServer server;
  std::string sExact(1048576, '\0');
  for (std::size_t i = 0; i < sExact.size(); ++i) sExact[i] = static_cast<char>(i * 7 + i / 251);
  server.WriteFile("/exact.bin", sExact);
  server.WriteFile("/larger.bin", sExact + "!");
  server.WriteFile("/empty.txt", "");
  const int32_t h = Connect(server);
  Get(h, "/exact.bin", "exact");
  Get(h, "/larger.bin", "larger");
  Get(h, "/empty.txt", "empty");
  Get(h, "/exact.bin", "after the abandoned transfer");
  ASSERT_TRUE(WaitForAnswers(4));
  ASSERT_EQ(Answers().size(), 4u);

  EXPECT_EQ(Answers()[0].lCode, 0);
  EXPECT_EQ(Answers()[0].lEnd, 1);
  EXPECT_TRUE(Answers()[0].sData == sExact);

  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_EQ(Answers()[1].lEnd, 0);
  EXPECT_TRUE(Answers()[1].sData == sExact) << "the first chunk, exactly";

  EXPECT_EQ(Answers()[2].lCode, 0);
  EXPECT_EQ(Answers()[2].lEnd, 1);
  EXPECT_EQ(Answers()[2].sData, "");

  EXPECT_EQ(Answers()[3].lCode, 0);
  EXPECT_TRUE(Answers()[3].sData == sExact);
}

TEST_F(FtpLibraryTest, PutAndGetKeepAllByteValues) {
  FtpTestServer server;
  const std::string sData = AllByteValues(300);
  const int32_t h = Connect(server);

  std::string sCaller = sData;
  Put(h, "/bytes.bin", "put", sCaller);
  // The library took its own copy at the call.
  std::fill(sCaller.begin(), sCaller.end(), 'X');
  sCaller.clear();
  sCaller.shrink_to_fit();
  std::string sMoved = sData;
  PutMove(h, "/moved.bin", "moved", std::move(sMoved));
  Put(h, "/empty.bin", "empty", "");
  Get(h, "/bytes.bin", "get");
  ASSERT_TRUE(WaitForAnswers(4));

  for (int i = 0; i < 4; ++i) EXPECT_EQ(Answers()[i].lCode, 0) << Answers()[i].sId;
  EXPECT_TRUE(server.ReadFile("/bytes.bin") == sData);
  EXPECT_TRUE(server.ReadFile("/moved.bin") == sData);
  EXPECT_TRUE(std::filesystem::exists(server.LocalPath("/empty.bin")));
  EXPECT_EQ(server.ReadFile("/empty.bin"), "");
  EXPECT_TRUE(Answers()[3].sData == sData);
  EXPECT_EQ(Answers()[3].lEnd, 1);
}

// The local files of the file puts below, and whether a descriptor still
// names one of them (a closed number may have gone to another file since).
class FtpFilePutTest : public FtpLibraryTest {
 protected:
  int OpenLocal(const std::string& sName, const std::string& sContent) {
    const std::string sPath = m_local.Path() + "/" + sName;
    std::ofstream(sPath, std::ios::binary) << sContent;
    const int fd = ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    ::fstat(fd, &m_stLast);
    return fd;
  }
  bool StillOpen(int fd) const {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == m_stLast.st_dev && st.st_ino == m_stLast.st_ino;
  }
  std::string LocalPath(const std::string& sName) const { return m_local.Path() + "/" + sName; }

  TempFolder m_local;
  struct stat m_stLast {};
};

TEST_F(FtpFilePutTest, SendsWhatIsInMemoryThenTheRestOfTheFileAndClosesIt) {
  FtpTestServer server;
  const std::string sData = AllByteValues(1200);
  const int32_t h = Connect(server);
  // The beginning in memory is what the file holds there; the file is read
  // from the end of it on, so a stray read from its start would show.
  const int fd = OpenLocal("big.bin", sData);
  PutFile(h, "/big.bin", "file", sData.substr(0, 70001), fd, sData.size());
  const int fdAll = OpenLocal("all.bin", sData);
  PutFile(h, "/all.bin", "all from the file", "", fdAll, sData.size());
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[0].lCode, 0);
  EXPECT_EQ(Answers()[1].lCode, 0);
  EXPECT_TRUE(server.ReadFile("/big.bin") == sData);
  EXPECT_TRUE(server.ReadFile("/all.bin") == sData);
  EXPECT_FALSE(StillOpen(fdAll)) << "the library closes the file";
}

TEST_F(FtpFilePutTest, AFileThatShrankOrCannotBeReadFailsThePut) {
  FtpTestServer server;
  const int32_t h = Connect(server);
  // Cut short after it was opened, as by another program.
  const std::string sData = AllByteValues(800);
  const int fd = OpenLocal("shrinks.bin", sData);
  ASSERT_EQ(::truncate(LocalPath("shrinks.bin").c_str(), 100000), 0);
  PutFile(h, "/shrinks.bin", "shrank", sData.substr(0, 1000), fd, sData.size());
  // A descriptor that yields no file data at all.
  const int fdFolder = ::open(m_local.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  PutFile(h, "/folder.bin", "unreadable", "head", fdFolder, 100000);
  Put(h, "/after.txt", "after", "after");
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[0].lCode, -18);
  EXPECT_TRUE(LogsContain("request shrank failed with -18: STOR .shrinks.bin."));
  EXPECT_TRUE(LogsContain(".part -> Uploaded unaligned file size"));
  EXPECT_EQ(Answers()[1].lCode, -26);
  EXPECT_TRUE(LogsContain(".part -> cannot read the local file: Is a directory"));
  EXPECT_EQ(Answers()[2].lCode, 0) << "the handle goes on working";
  EXPECT_EQ(server.ReadFile("/after.txt"), "after");
  // Neither is tried again, and neither leaves anything behind.
  EXPECT_FALSE(LogsContain("trying again"));
  EXPECT_THAT(FolderNames(server.Root()), UnorderedElementsAre("after.txt"));
}

TEST_F(FtpFilePutTest, TheFileIsClosedWhenThePutNeverRuns) {
  // No such connection: answered at once, file closed.
  const int fdNoHandle = OpenLocal("a.bin", "abc");
  PutFile(0, "/a.bin", "no handle", "", fdNoHandle, 3);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Only().lCode, -43);
  EXPECT_FALSE(StillOpen(fdNoHandle));

  // Waiting behind a transfer when the handle is closed: dropped unanswered,
  // file closed.
  FtpTestServer slow({"trickle"});
  slow.WriteFile("/slow.bin", std::string(64 * 1024, 's'));
  const int32_t h = Connect(slow);
  Get(h, "/slow.bin", "running");
  const int fdQueued = OpenLocal("b.bin", "abc");
  PutFile(h, "/b.bin", "queued", "", fdQueued, 3);
  std::this_thread::sleep_for(300ms);
  OrvFtpClientClose(h, -1);
  OrvFtpClientShutdown();
  EXPECT_FALSE(StillOpen(fdQueued));
  m_pump.For(200ms);
  EXPECT_EQ(Answers().size(), 1u);
}
