// Unattended alarm runs of the real program, headless, against real FTP
// servers on loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <set>
#include <thread>

#include "FtpTestServer.h"
#include "LibOrv.h"
#include "ProgramRun.h"
#include "ShapedLoopback.h"
#include "SmallFileSystem.h"
#include "cStringList.h"

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

// The local time of the first log entry whose text is sText, in ms since
// 1970 as if it were UTC (differences are right under a fixed zone); -1
// when there is none.
long long EntryTime(const std::string& sLog, const std::string& sText) {
  std::size_t p = 0;
  for (std::size_t e; (e = sLog.find("\r\n", p)) != std::string::npos; p = e + 2) {
    if (e - p < 25 || sLog.compare(p + 25, e - p - 25, sText) != 0) continue;
    const std::string s = sLog.substr(p, 23);  // DD.MM.YYYY hh:mm:ss.fff
    std::tm tm{};
    tm.tm_mday = std::stoi(s.substr(0, 2));
    tm.tm_mon = std::stoi(s.substr(3, 2)) - 1;
    tm.tm_year = std::stoi(s.substr(6, 4)) - 1900;
    tm.tm_hour = std::stoi(s.substr(11, 2));
    tm.tm_min = std::stoi(s.substr(14, 2));
    tm.tm_sec = std::stoi(s.substr(17, 2));
    return static_cast<long long>(timegm(&tm)) * 1000 + std::stoi(s.substr(20, 3));
  }
  return -1;
}

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

TEST_F(AlarmRun, DeliversMessageImageAndLocalFileEachOnceAndEnds) {
  // The run with the program's own waits, which the end of this test checks.
  program.UseWholeWaits();
  FtpTestServer server;
  server.MakeFolder("/in");
  const std::string sLocal = program.Folder() + "/report.txt";
  std::ofstream(sLocal) << "daily report";
  auto result = Run(server, {"ftppath=in", "msg=Fire in hall 2", "alarmimg=" + sImage, "localpath=" + sLocal});
  ASSERT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;

  const std::string sLog = program.LogText();
  const std::string sStamp = StartStamp();
  ASSERT_EQ(sStamp.size(), 17u);
  EXPECT_EQ(server.ReadFile("/in/" + sStamp + ".msg"), "Fire in hall 2\r\nZeit " + LocalText(sStamp));
  EXPECT_EQ(server.ReadFile("/in/cam1.jpg"), std::string("\xFF\xD8\xFF image bytes\0\x01", 18));
  EXPECT_EQ(server.ReadFile("/in/report.txt"), "daily report");
  // Each file went once: one upload and one rename into its name.
  std::vector<std::string> renames;
  int iStores = 0;
  for (const std::string& s : server.Commands()) {
    if (s.rfind("STOR ", 0) == 0) ++iStores;
    if (s.rfind("RNTO ", 0) == 0) renames.push_back(s.substr(5));
  }
  EXPECT_EQ(iStores, 3);
  EXPECT_EQ(renames, (std::vector<std::string>{sStamp + ".msg", "cam1.jpg", "report.txt"}));
  EXPECT_EQ(States(sLog), (std::vector<std::string>{"connect", "sendmsg", "alarmimg", "autoupload", "bye", "end"}));
  // The server's slot is free for other runs during the wait before the
  // disconnect.
  const std::vector<std::string> entries = ProgramCopy::LogEntries(sLog);
  const auto closed = std::find_if(entries.begin(), entries.end(),
                                   [](const std::string& s) { return Contains(s, " closed"); });
  EXPECT_LT(closed - entries.begin(),
            std::find(entries.begin(), entries.end(), "FTP Disconnect") - entries.begin()) << sLog;
  EXPECT_EQ(ProgramCopy::LogEntries(sLog).back(), "terminated normally");
  EXPECT_FALSE(Contains(sLog, server.Password()));

  // The waits before the disconnect (10 s) and before the end (2 s) are
  // never cut short. A log entry's time is cut to the millisecond and may be
  // up to a tick of the time text's cache (under 8 ms) old.
  const long long llBye = EntryTime(sLog, "AutoStatus=bye"), llEnd = EntryTime(sLog, "AutoStatus=end");
  EXPECT_GE(llEnd - llBye, 10000 - 10) << sLog;
  EXPECT_GE(EntryTime(sLog, "terminated normally") - llEnd, 2000 - 10) << sLog;

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
  // The retries' pauses are what give the server the time to come up.
  program.UseWholeWaits();
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
// inactivity limit, while the bytes keep reaching the server.
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
                            "ftppwd=" + server.Password(), "ftppath=in", "msg=x", "alarmimg=" + sImage},
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

// A caller that passes each parameter as an argument gets each value as
// it passed it, quotes and spaces included, and no value takes the
// parameters after it; a caller that passes the whole command line as one
// argument has it read in the text form.
TEST_F(AlarmRun, BothKindsOfCallerGetTheValuesTheyMeant) {
  FtpTestServer quoting({.sPassword = "a' \"b"});
  quoting.MakeFolder("/in");
  FtpTestServer oneLine({.sPassword = "p w"});
  oneLine.MakeFolder("/in");
  ProgramCopy second;
  std::ofstream(second.CfgPath()).close();
  auto one = std::async(std::launch::async, [&] {
    return second.Run({.args = {"ftpurl=127.0.0.1:" + oneLine.PortText() +
                                " ftpusr=orvtest ftppwd='p w' ftppath=in msg='Fire in hall 2'"},
                       .env = kHeadlessCet});
  });
  auto each = Run(quoting, {"msg=\"Door 3", "ftppath=in"});
  const auto whole = one.get();

  EXPECT_EQ(each.iExitStatus, 0) << each.sStderr;
  const std::string sStamp = StartStamp();
  EXPECT_EQ(quoting.ReadFile("/in/" + sStamp + ".msg"), "\"Door 3\r\nZeit " + LocalText(sStamp));
  const std::vector<std::string> entries = ProgramCopy::LogEntries(program.LogText());
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[1], "CommandLine=ftpurl=127.0.0.1:" + quoting.PortText() +
                            " ftpusr=orvtest ftppwd=*** msg=\"Door 3 ftppath=in");

  EXPECT_EQ(whole.iExitStatus, 0) << whole.sStderr;
  const std::string sWholeStamp = fs::path(second.LogFileName()).stem().string();
  EXPECT_EQ(oneLine.ReadFile("/in/" + sWholeStamp + ".msg"), "Fire in hall 2\r\nZeit " + LocalText(sWholeStamp));
  EXPECT_EQ(ProgramCopy::LogEntries(second.LogText()).at(1),
            "CommandLine=ftpurl=127.0.0.1:" + oneLine.PortText() +
                " ftpusr=orvtest ftppwd=*** ftppath=in msg='Fire in hall 2'");
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
  auto result = Run(server, {"msg=x", "alarmimg=" + program.Folder() + "/gone.jpg"});
  ExpectFailedRun(result, program.LogText(), "File doesnt exist: " + program.Folder() + "/gone.jpg");
  // Nothing is left to keep, and the run says nothing of the outbox.
  EXPECT_FALSE(Contains(program.LogText(), "Outbox:")) << program.LogText();
  EXPECT_FALSE(fs::exists(program.Folder() + "/outbox") && !fs::is_empty(program.Folder() + "/outbox"));
}

// A FIFO that nobody writes to would hold a reader for ever; the put
// refuses it as it refuses a missing file, and the run ends as soon as any
// failed run does (a delivering run waits 10 s before its disconnect).
TEST_F(AlarmRun, AFifoAsImageEndsTheRunAtOnce) {
  // Faster than a delivering run's whole waits.
  program.UseWholeWaits();
  FtpTestServer server;
  const std::string sFifo = program.Folder() + "/cam2.jpg";
  ASSERT_EQ(::mkfifo(sFifo.c_str(), 0600), 0);
  const auto t0 = std::chrono::steady_clock::now();
  auto result = Run(server, {"msg=x", "alarmimg=" + sFifo});
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  ExpectFailedRun(result, program.LogText(), "File doesnt exist: " + sFifo);
  EXPECT_FALSE(fs::exists(server.LocalPath("/cam2.jpg")));
}

// A password is masked whatever the case of its name, and a line break in a
// value cannot forge a log line: every line of the log is one entry.
TEST_F(AlarmRun, NoValueShowsAPasswordOrForgesALogLine) {
  const std::string sForged = "\r\n01.01.2026 00:00:00.000: terminated normally";
  auto result =
      program.Run({.args = {"FTPPWD=Geheim-42", "ftpusr=u" + sForged, "msg=x" + sForged}, .env = kHeadlessCet});
  const std::string sLog = program.LogText();
  ExpectFailedRun(result, sLog, "Fehlermeldung von Modul 'FTP Site needed': Please enter an FTP site");
  EXPECT_FALSE(Contains(sLog, "Geheim-42")) << sLog;
  const std::vector<std::string> entries = ProgramCopy::LogEntries(sLog);
  const std::string sEscaped = "\\r\\n01.01.2026 00:00:00.000: terminated normally";
  EXPECT_EQ(entries.at(1), "CommandLine=FTPPWD=*** ftpusr=\"u" + sEscaped + "\" msg=\"x" + sEscaped + "\"");
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "terminated normally"), 1) << sLog;
  // Every line starts with its time: none is a piece of a value.
  for (const std::string& s : entries) EXPECT_FALSE(s.empty()) << sLog;
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

// Runs started in one moment, as an alarm system with many inputs starts
// them: under a clock frozen by libfaketime every run reads the same time.
// Each still has a stamp of its own, so each message arrives under its own
// name and each run writes a log of its own.
TEST_F(AlarmRun, RunsStartedInOneMomentEachHaveAStampOfTheirOwn) {
  const std::string sFaketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
  if (!fs::exists(sFaketime)) GTEST_SKIP() << sFaketime << " is missing (Debian package faketime)";
  FtpTestServer server;
  server.MakeFolder("/in");
  auto env = kHeadlessCet;
  env["LD_PRELOAD"] = sFaketime;
  // Frozen (no "@"), in the run's zone: 16:28:00.000 UTC.
  env["FAKETIME"] = "2026-12-06 17:28:00";
  // Qt's timers and the FTP time-outs run on the real monotonic clock.
  env["FAKETIME_DONT_FAKE_MONOTONIC"] = "1";
  // The address sanitizer wants to be the first library; the clock's comes
  // first here, which does it no harm.
  const char* szAsanOptions = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(szAsanOptions ? szAsanOptions : "") + ":verify_asan_link_order=0";

  constexpr int kRuns = 3;
  std::vector<ProgramCopy::Result> results(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      results[i] = program.Run({.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=" + server.User(),
                                         "ftppwd=" + server.Password(), "ftppath=in", "msg=run-" + std::to_string(i)},
                                .env = env,
                                .timeout = std::chrono::seconds(60)});
    });
  }
  for (std::thread& t : threads) t.join();
  for (const ProgramCopy::Result& r : results) {
    EXPECT_FALSE(r.bTimedOut);
    EXPECT_EQ(r.iExitStatus, 0) << r.sStderr;
  }

  // The frozen moment's stamp and the next milliseconds', one per run.
  std::map<std::string, std::string> messages;  // stamp -> text
  for (const auto& e : fs::directory_iterator(server.LocalPath("/in")))
    messages[e.path().stem().string()] = LoopbackFtpServer::ReadWholeFile(e.path());
  ASSERT_EQ(messages.size(), static_cast<std::size_t>(kRuns)) << server.ServerLog();
  const std::map<std::string, std::string> logs = program.Logs();
  ASSERT_EQ(logs.size(), static_cast<std::size_t>(kRuns));
  std::set<std::string> texts;
  int i = 0;
  for (const auto& [sStamp, sText] : messages) {
    SCOPED_TRACE(sStamp);
    ASSERT_EQ(sStamp.size(), 17u);
    EXPECT_EQ(sStamp, "20261206162800" + ("00" + std::to_string(i++)));
    // The message names its run's own stamp, and its run's log is that stamp's.
    const std::string sRun = sText.substr(0, sText.find("\r\n"));
    texts.insert(sRun);
    EXPECT_EQ(sText, sRun + "\r\nZeit " + LocalText(sStamp));
    ASSERT_EQ(logs.count(sStamp + ".log"), 1u);
    const std::vector<std::string> entries = ProgramCopy::LogEntries(logs.at(sStamp + ".log"));
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [](const std::string& s) { return s.rfind("CommandLine=", 0) == 0; }),
              1);
    EXPECT_TRUE(Contains(entries.at(1), "msg=" + sRun)) << entries.at(1);
    EXPECT_EQ(entries.back(), "terminated normally");
  }
  EXPECT_EQ(texts, (std::set<std::string>{"run-0", "run-1", "run-2"}));
}

const char kSettingsKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

// Fills the file system that holds sFolder to its last byte; false when it
// did not fill up within its size.
bool FillUp(const std::string& sFolder) {
  struct statvfs vfs {};
  if (::statvfs(sFolder.c_str(), &vfs) != 0) return false;
  const unsigned long long ullSize = static_cast<unsigned long long>(vfs.f_blocks) * vfs.f_frsize;
  const int fd = ::open((sFolder + "/filler").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  unsigned long long ullWritten = 0;
  const std::string sChunk(1 << 16, 'f');
  // Ever smaller pieces, the last ones a byte each, until none fits.
  for (std::size_t lPiece : {sChunk.size(), std::size_t{4096}, std::size_t{1}}) {
    while (ullWritten <= ullSize) {
      const ssize_t n = ::write(fd, sChunk.data(), lPiece);
      if (n <= 0) break;
      ullWritten += static_cast<unsigned long long>(n);
    }
  }
  ::close(fd);
  // Not even one byte more goes anywhere.
  const int fdProbe = ::open((sFolder + "/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fdProbe < 0) return errno == ENOSPC;
  const bool bFull = ::write(fdProbe, "x", 1) < 0 && errno == ENOSPC;
  ::close(fdProbe);
  ::unlink((sFolder + "/probe").c_str());
  return bFull;
}

// The program on a disk that is full to the last byte: nothing of its own
// can be written (not its log, not its settings), and it need not be. The
// alarm goes out, and an end whose settings are those of the file does not
// rewrite the file.
TEST_F(AlarmRun, OnAFullDiskDeliversAndEndsWithZero) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const auto ullProgram = fs::file_size(program.ProgramPath());
  SmallFileSystem disk(program.Folder(), "size=" + std::to_string(ullProgram + (1 << 20)) + ",mode=0700");
  if (!disk.Mounted()) GTEST_SKIP() << "file systems cannot be mounted here";
  program.CopyProgram();
  FtpTestServer server;
  server.MakeFolder("/in");
  cStringList settings;
  settings.SetKey(kSettingsKey);
  settings.SetValue("ftpurl", "127.0.0.1:" + server.PortText());
  settings.SetValue("ftpusr", server.User());
  settings.SetValue("ftppwd", server.Password());
  settings.Store(program.CfgPath());
  const std::string sCfg = LibOrv_ReadFile(program.CfgPath());
  struct stat stBefore {};
  ASSERT_EQ(::stat(program.CfgPath().c_str(), &stBefore), 0);
  ASSERT_TRUE(FillUp(program.Folder()));

  auto result = Run(server, {"ftppath=in", "msg=disk full"});
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  const std::vector<fs::path> vMessages(fs::directory_iterator(server.LocalPath("/in")), {});
  ASSERT_EQ(vMessages.size(), 1u);
  const std::string sStamp = vMessages[0].stem().string();
  EXPECT_EQ(LoopbackFtpServer::ReadWholeFile(vMessages[0]), "disk full\r\nZeit " + LocalText(sStamp));
  // The run still claimed its stamp; not a line of its log fitted.
  EXPECT_EQ(program.Logs(), (std::map<std::string, std::string>{{sStamp + ".log", ""}}));
  struct stat stAfter {};
  ASSERT_EQ(::stat(program.CfgPath().c_str(), &stAfter), 0);
  EXPECT_EQ(stAfter.st_ino, stBefore.st_ino);
  EXPECT_EQ(LibOrv_ReadFile(program.CfgPath()), sCfg);
}

}  // namespace
