// Start-up and shutdown of the real program, run as a subprocess from a
// folder of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ProgramRun.h"

namespace {

const std::map<std::string, std::optional<std::string>> kHeadless = {
    {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};

TEST(StartAndEnd, WithoutSettingsFileStartUpFailsWith53) {
  ProgramCopy program;
  ASSERT_FALSE(std::filesystem::exists(program.CfgPath()));
  auto result = program.Run({.args = {"ftpurl=127.0.0.1"}, .env = kHeadless});
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 2);
  EXPECT_NE(result.sStderr.find("Fehler-Code 53:\nFile not found"), std::string::npos) << result.sStderr;
  EXPECT_NE(result.sStderr.find("Bitte wenden Sie sich per Email an "), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(program.CfgPath()));
  // The window was never shown: nothing after the start lines was logged.
  auto entries = ProgramCopy::LogEntries(program.LogText());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], "CommandLine=ftpurl=127.0.0.1");
}

TEST(StartAndEnd, InteractiveStartWithoutDisplayFailsWith372Form) {
  ProgramCopy program;
  std::ofstream(program.CfgPath()).close();
  auto result = program.Run({.env = kHeadless});
  EXPECT_EQ(result.iExitStatus, 2);
  EXPECT_NE(result.sStderr.find("Diese Anwendung kann nicht gestartet werden, weil eine ActiveX-Komponente"),
            std::string::npos)
      << result.sStderr;
  EXPECT_EQ(program.LogText(), "");
}

TEST(StartAndEnd, NormalStartAndCloseLogsTheLifeCycle) {
  ProgramCopy program;
  std::ofstream(program.CfgPath()).close();
  auto result = program.Run({.env = {{"QT_QPA_PLATFORM", "offscreen"}},
                             .timeout = std::chrono::seconds(30),
                             .terminateWhen = [](const ProgramCopy& p) {
                               return p.LogText().find("CommandLine=") != std::string::npos;
                             }});
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  auto entries = ProgramCopy::LogEntries(program.LogText());
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(entries[0], "OrvFtpUploader Ver. 1.1.3 starting with local PWD=" + program.Folder());
  EXPECT_EQ(entries[1], "CommandLine=");
  EXPECT_EQ(entries.back(), "terminated normally");
  // Log name is the start stamp; settings now hold the (empty) fields.
  std::string sLogName = std::filesystem::path(program.LogFileName()).filename().string();
  EXPECT_EQ(sLogName.size(), 17u + 4u);
  struct stat st {};
  ASSERT_EQ(::stat(program.CfgPath().c_str(), &st), 0);
  EXPECT_GT(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The process holds the password: it writes no core file, and (but in the
// sanitizer build, whose leak check needs it) it is not dumpable, so that no
// other process of its user may read its memory. The kernel gives the /proc
// files of a process that is not dumpable to root; the run goes as another
// user than root, for whom that shows.
TEST(StartAndEnd, ARunWritesNoCoreFileAndKeepsItsMemoryToItself) {
  ProgramCopy program;
  std::ofstream(program.CfgPath()).close();
  std::vector<std::string> prefix;
  if (::geteuid() == 0) {
    if (std::system("setpriv --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv (util-linux) is missing";
    ASSERT_EQ(::chown(program.Folder().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(program.CfgPath().c_str(), 65534, 65534), 0);
    prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  std::string sCoreLimit;
  uid_t uidRun = 0, uidOwner = 0;
  bool bLooked = false;
  auto result = program.Run(
      {.args = {"ftpusr=u", "msg=x"},
       .prefix = prefix,
       .env = kHeadless,
       .timeout = std::chrono::seconds(30),
       .terminateWhen = [&](const ProgramCopy& p) {
         if (bLooked || p.LogText().find("CommandLine=") == std::string::npos) return false;
         const std::string sProc = "/proc/" + std::to_string(p.RunningPid());
         std::ifstream limits(sProc + "/limits");
         for (std::string s; std::getline(limits, s);)
           if (s.rfind("Max core file size", 0) == 0) sCoreLimit = s;
         std::ifstream status(sProc + "/status");
         for (std::string s; std::getline(status, s);)
           if (s.rfind("Uid:", 0) == 0) uidRun = static_cast<uid_t>(std::stoul(s.substr(4)));
         struct stat st {};
         if (::stat((sProc + "/status").c_str(), &st) == 0) uidOwner = st.st_uid;
         bLooked = true;
         return false;
       }});
  EXPECT_FALSE(result.bTimedOut);
  // Without a server the run fails, and keeps its alarm.
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  ASSERT_TRUE(bLooked) << result.sStderr;
  EXPECT_EQ(sCoreLimit.substr(0, 48), "Max core file size        0                    0") << sCoreLimit;
  EXPECT_NE(uidRun, 0u);
#ifdef ORV_SANITIZED
  EXPECT_EQ(uidOwner, uidRun);
#else
  EXPECT_EQ(uidOwner, 0u) << "the process is dumpable";
#endif
}

}  // namespace
