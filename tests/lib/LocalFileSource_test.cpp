#include "LocalFileSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "OrvError.h"
#include "TempFolder.h"

namespace {

class LocalFileSourceTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& sName) const { return m_dir.Path() + "/" + sName; }

  std::string Write(const std::string& sName, const std::string& sContent) const {
    std::ofstream(Path(sName), std::ios::binary) << sContent;
    return Path(sName);
  }

  static std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return s;
  }

  static long ErrorNumberOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const OrvError& e) {
      return e.Number();
    }
    return 0;
  }

  // Whether fd still names the file the stat describes (a closed number
  // may have been given to another file since).
  static bool NamesFile(int fd, const struct stat& stFile) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == stFile.st_dev && st.st_ino == stFile.st_ino;
  }

  TempFolder m_dir;
};

TEST_F(LocalFileSourceTest, AFileUpToTheLimitIsReadWholeAndClosed) {
  for (std::size_t n : {std::size_t{1}, std::size_t{4095}, std::size_t{4096}}) {
    SCOPED_TRACE(n);
    const std::string sContent = Bytes(n);
    LocalFileSource o = LocalFileSource::Open(Write("f.bin", sContent), 4096);
    EXPECT_TRUE(o.Whole());
    EXPECT_FALSE(o.Empty());
    EXPECT_EQ(o.Size(), n);
    EXPECT_TRUE(o.Head() == sContent);
    EXPECT_EQ(o.ReleaseDescriptor(), -1);
  }
}

TEST_F(LocalFileSourceTest, ALongerFileGivesItsBeginningAndStaysOpenForTheRest) {
  const std::string sContent = Bytes(10001);
  const std::string sName = Write("big.bin", sContent);
  struct stat stFile {};
  ASSERT_EQ(::stat(sName.c_str(), &stFile), 0);

  LocalFileSource o = LocalFileSource::Open(sName, 4096);
  EXPECT_FALSE(o.Whole());
  EXPECT_FALSE(o.Empty());
  EXPECT_EQ(o.Size(), 10001u);
  EXPECT_TRUE(o.Head() == sContent.substr(0, 4096));

  // Moving hands the open file on; the moved-from object closes nothing.
  LocalFileSource moved = std::move(o);
  EXPECT_EQ(o.ReleaseDescriptor(), -1);
  const std::string sHead = moved.TakeHead();
  const int fd = moved.ReleaseDescriptor();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(NamesFile(fd, stFile));
  std::string sRest(sContent.size() - sHead.size(), '\0');
  ASSERT_EQ(::pread(fd, sRest.data(), sRest.size(), static_cast<off_t>(sHead.size())),
            static_cast<ssize_t>(sRest.size()));
  EXPECT_TRUE(sHead + sRest == sContent);
  ::close(fd);

  // Not handed over, the file is closed with the object. The object's
  // descriptor is the lowest free number (this test opens no others).
  const int fdFree = ::open(sName.c_str(), O_RDONLY | O_CLOEXEC);
  ::close(fdFree);
  {
    LocalFileSource kept = LocalFileSource::Open(sName, 4096);
    EXPECT_TRUE(NamesFile(fdFree, stFile));
  }
  EXPECT_FALSE(NamesFile(fdFree, stFile));
}

TEST_F(LocalFileSourceTest, EmptyAndSizeLessFilesAreReadToTheirEnd) {
  LocalFileSource empty = LocalFileSource::Open(Write("empty", ""), 4096);
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.Size(), 0u);
  // A kernel file reports no size but has content: it is read whole, never
  // left to a reader that trusts the size.
  if (std::filesystem::exists("/proc/self/status")) {
    LocalFileSource proc = LocalFileSource::Open("/proc/self/status", 16);
    EXPECT_TRUE(proc.Whole());
    EXPECT_EQ(proc.Head().rfind("Name:", 0), 0u);
    EXPECT_EQ(proc.Size(), proc.Head().size());
  }
}

TEST_F(LocalFileSourceTest, FilesThatCannotBeReadFailAtTheOpening) {
  EXPECT_EQ(ErrorNumberOf([&] { LocalFileSource::Open(Path("missing"), 16); }), OrvError::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { LocalFileSource::Open(Path("no/missing"), 16); }), OrvError::kPathNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { LocalFileSource::Open(m_dir.Path(), 16); }), OrvError::kPathFileAccess);
  // A regular file that opens but refuses to be read, whoever asks.
  if (std::filesystem::is_regular_file("/proc/self/clear_refs")) {
    EXPECT_EQ(ErrorNumberOf([&] { LocalFileSource::Open("/proc/self/clear_refs", 16); }), OrvError::kPathFileAccess);
  }
  // What is not a regular file is refused at once: a FIFO without a writer
  // would hold the opening, a device such as /dev/zero the reading, for ever.
  const std::string sFifo = Path("fifo");
  ASSERT_EQ(::mkfifo(sFifo.c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", Path("zero"));
  for (const std::string& sName : {sFifo, Path("zero"), std::string("/dev/null")}) {
    SCOPED_TRACE(sName);
    EXPECT_EQ(ErrorNumberOf([&] { LocalFileSource::Open(sName, 16); }), OrvError::kBadFileMode);
  }
  if (::geteuid() != 0) {
    const std::string sName = Write("locked", "x");
    ASSERT_EQ(::chmod(sName.c_str(), 0), 0);
    EXPECT_EQ(ErrorNumberOf([&] { LocalFileSource::Open(sName, 16); }), OrvError::kPermissionDenied);
  }
}

}  // namespace
