// Start-up and shutdown of the real program, run as a subprocess from a
// folder of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

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

}  // namespace
