#include "RunLog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "DateAndTime.h"
#include "TempFolder.h"

namespace {

namespace fs = std::filesystem;

std::size_t Files(const std::string& sFolder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(sFolder), {}));
}

TEST(RunLog, ATakenStampGivesTheNextFreeMillisecond) {
  TempFolder tmp;
  const std::string sLog = tmp.Path() + "/log";
  // The first run makes the folder, owner only, and its empty log.
  EXPECT_EQ(RunLog_ClaimStamp(sLog, "20261231235959998"), "20261231235959998");
  struct stat st {};
  ASSERT_EQ(::stat(sLog.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((sLog + "/20261231235959998.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  // Runs in the same millisecond pass over the year's end; an older log of
  // that stamp is passed by, and kept as it was.
  std::ofstream(sLog + "/20270101000000000.log") << "an earlier run";
  EXPECT_EQ(RunLog_ClaimStamp(sLog, "20261231235959998"), "20261231235959999");
  EXPECT_EQ(RunLog_ClaimStamp(sLog, "20261231235959998"), "20270101000000001");
  EXPECT_EQ(fs::file_size(sLog + "/20270101000000000.log"), 14u);
  EXPECT_EQ(Files(sLog), 4u);
}

TEST(RunLog, GivesUpAfterBoundedTriesAndWhereNothingCanBeWritten) {
  TempFolder tmp;
  const std::string sLog = tmp.Path() + "/log";
  ::mkdir(sLog.c_str(), 0700);
  // Every stamp it may try is taken (a clock that stands still for long).
  std::string sStamp = "20261206172800000";
  for (int i = 0; i < kRunLogStampTries; ++i, sStamp = DAT_NextMillisecond(sStamp))
    ::close(::open((sLog + "/" + sStamp + ".log").c_str(), O_WRONLY | O_CREAT, 0600));
  ASSERT_EQ(Files(sLog), static_cast<std::size_t>(kRunLogStampTries));
  EXPECT_EQ(RunLog_ClaimStamp(sLog, "20261206172800000"), "20261206172800000");
  EXPECT_EQ(Files(sLog), static_cast<std::size_t>(kRunLogStampTries));
  // From one millisecond later, the last try is the first free stamp.
  EXPECT_EQ(RunLog_ClaimStamp(sLog, "20261206172800001"), sStamp);
  EXPECT_EQ(sStamp, "20261206172801000");

  // A file where the folder should be: the clock's stamp, nothing made.
  const std::string sBlocked = tmp.Path() + "/blocked";
  std::ofstream(sBlocked).close();
  EXPECT_EQ(RunLog_ClaimStamp(sBlocked, "20261206172800000"), "20261206172800000");
  EXPECT_TRUE(fs::is_regular_file(sBlocked));
}

}  // namespace
