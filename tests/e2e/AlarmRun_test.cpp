// Unattended alarm runs of the real program, headless, against real FTP
// servers on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "FtpTestServer.h"
#include "ProgramRun.h"
#include "ShapedLoopback.h"

namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::optional<std::string>> kHeadlessCet = {
    {"DISPLAY", std::nullopt},
    {"WAYLAND_DISPLAY", std::nullopt},
    {"QT_QPA_PLATFORM", std::nullopt},
    {"TZ", "XXX-1"}};

// The states the run went through, in order.
std::vector<std::string> States(const std::string& sLog) {
  std::vector<std::string> states;
  for (const std::string& s : ProgramCopy::LogEntries(sLog))
    if (s.rfind("AutoStatus=", 0) == 0) states.push_back(s.substr(11));
  return states;
}

bool Contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

// The stamp one hour ahead, in the display form.
std::string LocalText(const std::string& sStamp) {
  std::tm tm{};
  tm.tm_year = std::stoi(sStamp.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(sStamp.substr(4, 2)) - 1;
  tm.tm_mday = std::stoi(sStamp.substr(6, 2));
  tm.tm_hour = std::stoi(sStamp.substr(8, 2));
  tm.tm_min = std::stoi(sStamp.substr(10, 2));
  tm.tm_sec = std::stoi(sStamp.substr(12, 2));
  std::time_t t = timegm(&tm) + 3600;
  std::tm local{};
  gmtime_r(&t, &local);
  char ac[32];
  std::strftime(ac, sizeof ac, "%d.%m.%Y %H:%M:%S", &local);
  return std::string(ac) + "." + sStamp.substr(14, 3);
}

class AlarmRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(program.CfgPath()).close();
    sImage = program.Folder() + "/cam1.jpg";
    std::ofstream(sImage, std::ios::binary) << std::string("\xFF\xD8\xFF image bytes\0\x01", 18);
  }

  ProgramCopy::Result Run(FtpTestServer& server, std::vector<std::string> extra) {
    std::vector<std::string> args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=" + server.User(),
                                     "ftppwd=" + server.Password()};
    args.insert(args.end(), extra.begin(), extra.end());
    return program.Run({.args = args, .env = kHeadlessCet, .timeout = std::chrono::seconds(60)});
  }

  std::string StartStamp() const { return fs::path(program.LogFileName()).stem().string(); }

  ProgramCopy program;
  std::string sImage;
};

TEST_F(AlarmRun, DeliversMessageAndImageAndEnds) {
  FtpTestServer server;
  server.MakeFolder("/in");
  auto result = Run(server, {"ftppath=in", "msg=Fire in hall 2", "alarmimg=" + sImage});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;

  const std::string sLog = program.LogText();
  const std::string sStamp = StartStamp();
  ASSERT_EQ(sStamp.size(), 17u);
  EXPECT_EQ(server.ReadFile("/in/" + sStamp + ".msg"), "Fire in hall 2\r\nZeit " + LocalText(sStamp));
  EXPECT_EQ(server.ReadFile("/in/cam1.jpg"), std::string("\xFF\xD8\xFF image bytes\0\x01", 18));
  EXPECT_EQ(States(sLog), (std::vector<std::string>{"connect", "sendmsg", "alarmimg", "autoupload", "bye", "end"}));
  EXPECT_EQ(ProgramCopy::LogEntries(sLog).back(), "terminated normally");
  EXPECT_FALSE(Contains(sLog, server.Password()));

  // The run's credentials are kept for the next start, enciphered.
  const std::string sCfg = [&] {
    std::ifstream in(program.CfgPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  EXPECT_FALSE(sCfg.empty());
  EXPECT_FALSE(Contains(sCfg, server.Password()));
  EXPECT_FALSE(Contains(sCfg, "ftpusr"));
}

TEST_F(AlarmRun, WaitsForAServerThatComesUpLateAndMakesTheFolders) {
  FtpTestServer server({.sKind = "starts_late"});
  auto result = Run(server, {"ftppath=in/cam7/2026-12-08", "msg=late", "alarmimg=" + sImage});
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  const std::string sLog = program.LogText();
  EXPECT_TRUE(Contains(sLog, "failed with -7: connect to 127.0.0.1:" + server.PortText())) << sLog;
  EXPECT_TRUE(Contains(sLog, "; trying again in 1 s (1 of 3)")) << sLog;
  EXPECT_EQ(server.ReadFile("/in/cam7/2026-12-08/" + StartStamp() + ".msg").substr(0, 4), "late");
  EXPECT_EQ(server.ReadFile("/in/cam7/2026-12-08/cam1.jpg"), std::string("\xFF\xD8\xFF image bytes\0\x01", 18));
}

TEST_F(AlarmRun, DeliversOnlyTheLocalFile) {
  FtpTestServer server;
  const std::string sLocal = program.Folder() + "/report.txt";
  std::ofstream(sLocal) << "daily report";
  auto result = Run(server, {"ftppath=/", "localpath=" + sLocal});
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  EXPECT_EQ(server.ReadFile("/report.txt"), "daily report");
  std::vector<std::string> vsFiles;
  for (const auto& e : fs::directory_iterator(server.Root())) vsFiles.push_back(e.path().filename().string());
  EXPECT_EQ(vsFiles, (std::vector<std::string>{"report.txt"}));
  EXPECT_EQ(States(program.LogText()),
            (std::vector<std::string>{"connect", "sendmsg", "alarmimg", "autoupload", "bye", "end"}));
}

TEST_F(AlarmRun, WithNothingToSendEndsAfterTheWait) {
  FtpTestServer server;
  auto result = Run(server, {"ftppath=/"});
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  EXPECT_TRUE(fs::is_empty(server.Root()));
  const std::string sLog = program.LogText();
  EXPECT_FALSE(Contains(sLog, "FTP Put"));
  EXPECT_EQ(ProgramCopy::LogEntries(sLog).back(), "terminated normally");
}

// A camera on a weak mobile uplink: the kernel takes in the whole picture
// at once and then needs more than a minute to send it, far longer than the
// inactivity limit, while the bytes keep reaching the server. (As the local
// file: an alarm image would be put twice, in its own step and as the local
// file.)
TEST_F(AlarmRun, ImageOverA32KbitLinkArrivesInOneTry) {
  std::string sWhy;
  const std::unique_ptr<ShapedLoopback> pLink = ShapedLoopback::Make("32kbit", sWhy);
  if (!pLink) GTEST_SKIP() << sWhy;
  FtpTestServer server({.prefix = pLink->Prefix()});
  server.MakeFolder("/in");
  std::string sPicture(256 * 1024, '\0');
  std::mt19937 rng(7);
  for (char& c : sPicture) c = static_cast<char>(rng());
  std::ofstream(sImage, std::ios::binary | std::ios::trunc) << sPicture;

  const auto start = std::chrono::steady_clock::now();
  const ProgramCopy::Result result =
      program.Run({.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=" + server.User(),
                            "ftppwd=" + server.Password(), "ftppath=in", "msg=x", "localpath=" + sImage},
                   .prefix = pLink->Prefix(),
                   .env = kHeadlessCet,
                   .timeout = std::chrono::minutes(3)});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::string sLog = program.LogText();
  ASSERT_FALSE(result.bTimedOut) << sLog;
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr << sLog;
  EXPECT_GT(elapsed, std::chrono::seconds(40)) << "the link is slower than the limit by far";
  const std::vector<std::string> commands = server.Commands();
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                          [](const std::string& s) { return s.rfind("STOR ", 0) == 0 && Contains(s, "cam1.jpg"); }),
            1);
  EXPECT_FALSE(Contains(sLog, "trying again")) << sLog;
  ASSERT_TRUE(fs::exists(server.LocalPath("/in/cam1.jpg")));
  EXPECT_TRUE(server.ReadFile("/in/cam1.jpg") == sPicture);
}

// A failed run still disconnects and ends, says so in its exit status and
// its log, and sends nothing more.
void ExpectFailedRun(const ProgramCopy::Result& result, const std::string& sLog, const std::string& sWarning) {
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  EXPECT_TRUE(Contains(sLog, sWarning)) << sLog;
  auto states = States(sLog);
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states[states.size() - 2], "bye");
  EXPECT_EQ(states.back(), "end");
  EXPECT_EQ(ProgramCopy::LogEntries(sLog).back(), "terminated normally");
}

TEST_F(AlarmRun, RefusedLoginEndsTheRun) {
  FtpTestServer server;
  auto result = Run(server, {"ftppwd=wrong", "msg=x", "alarmimg=" + sImage});
  const std::string sLog = program.LogText();
  ExpectFailedRun(result, sLog, "Warnhinweis von Modul 'FTP-DIR failed': Error 530");
  EXPECT_FALSE(Contains(sLog, "FTP Put"));
}

TEST_F(AlarmRun, MissingImageEndsTheRun) {
  FtpTestServer server;
  auto result = Run(server, {"alarmimg=" + program.Folder() + "/gone.jpg"});
  ExpectFailedRun(result, program.LogText(), "File doesnt exist: " + program.Folder() + "/gone.jpg");
}

TEST_F(AlarmRun, EmptyServerEndsTheRun) {
  auto result = program.Run({.args = {"ftpusr=u", "msg=x"}, .env = kHeadlessCet});
  ExpectFailedRun(result, program.LogText(), "Fehlermeldung von Modul 'FTP Site needed': Please enter an FTP site");
}

TEST_F(AlarmRun, ServerThatNeverAnswersEndsTheRun) {
  FtpTestServer server({.sKind = "never_answer"});
  auto result = Run(server, {"msg=x"});
  ExpectFailedRun(result, program.LogText(), "'FTP-DIR failed': Error -28");
}

TEST_F(AlarmRun, FailingMessagePutNeverSendsTheImage) {
  FtpTestServer server({.sKind = "stor_553"});
  auto result = Run(server, {"msg=x", "alarmimg=" + sImage});
  const std::string sLog = program.LogText();
  ExpectFailedRun(result, sLog, "'FTP-PUT failed': Error 553");
  EXPECT_FALSE(Contains(sLog, "FTP Put " + sImage));
  EXPECT_FALSE(fs::exists(server.LocalPath("/cam1.jpg")));
}

}  // namespace
