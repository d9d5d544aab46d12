// What an unattended run does when the network, the server, the disk or its
// own files fail: it never hangs or crashes, answers every request once,
// ends through its disconnect and end states, and says what happened in its
// exit status and log.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>

#include "FtpTestServer.h"
#include "LibOrv.h"
#include "ProgramRun.h"
#include "cStringList.h"

namespace {

namespace fs = std::filesystem;

const char kSettingsKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

const std::map<std::string, std::optional<std::string>> kHeadless = {
    {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};

int CountPrefix(const std::string& sLog, const std::string& sPrefix) {
  int n = 0;
  for (const std::string& s : ProgramCopy::LogEntries(sLog))
    if (s.rfind(sPrefix, 0) == 0) ++n;
  return n;
}

bool Contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

int Occurrences(const std::string& s, const std::string& sPart) {
  int n = 0;
  for (std::size_t p = s.find(sPart); p != std::string::npos; p = s.find(sPart, p + 1)) ++n;
  return n;
}

// A loopback port where nothing listens.
int DeadPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(program.CfgPath()).close(); }

  ProgramCopy::Result Run(const std::string& sServer, std::vector<std::string> extra,
                          std::vector<std::string> prefix = {}) {
    std::vector<std::string> args = {"ftpurl=" + sServer, "ftpusr=orvtest", "ftppwd=Pa55-w0rd!"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto t0 = std::chrono::steady_clock::now();
    auto result = program.Run({.args = args, .prefix = prefix, .env = kHeadless, .timeout = std::chrono::seconds(60)});
    elapsed = std::chrono::steady_clock::now() - t0;
    return result;
  }
  ProgramCopy::Result Run(const FtpTestServer& server, std::vector<std::string> extra) {
    return Run("127.0.0.1:" + server.PortText(), std::move(extra));
  }

  // Every put got exactly one answer, the listing too, and the run ended
  // through its last states.
  void ExpectOrderlyEnd(const ProgramCopy::Result& result, int iExitStatus, int iPuts) {
    EXPECT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.iSignal, 0);
    EXPECT_EQ(result.iExitStatus, iExitStatus) << result.sStderr;
    const std::string sLog = program.LogText();
    EXPECT_EQ(iPuts, CountPrefix(sLog, "FTP-PUT OK") + CountPrefix(sLog, "Warnhinweis von Modul 'FTP-PUT failed'"))
        << sLog;
    EXPECT_EQ(CountPrefix(sLog, "FTP Connect to "),
              CountPrefix(sLog, "FTP-DIR OK") + CountPrefix(sLog, "Warnhinweis von Modul 'FTP-DIR failed'"))
        << sLog;
    std::vector<std::string> states;
    for (const std::string& s : ProgramCopy::LogEntries(sLog))
      if (s.rfind("AutoStatus=", 0) == 0) states.push_back(s);
    ASSERT_GE(states.size(), 2u) << sLog;
    EXPECT_EQ(states[states.size() - 2], "AutoStatus=bye");
    EXPECT_EQ(states.back(), "AutoStatus=end");
    EXPECT_EQ(ProgramCopy::LogEntries(sLog).back(), "terminated normally");
  }

  std::string WriteLocal(const std::string& sName, const std::string& sContent) {
    std::string sPath = program.Folder() + "/" + sName;
    std::ofstream(sPath, std::ios::binary) << sContent;
    return sPath;
  }

  ProgramCopy program;
  std::chrono::steady_clock::duration elapsed{};
};

TEST_F(FaultMatrix, ConnectionRefused) {
  auto result = Run("127.0.0.1:" + std::to_string(DeadPort()), {"msg=x"});
  ExpectOrderlyEnd(result, 1, 0);
  EXPECT_TRUE(Contains(program.LogText(), "'FTP-DIR failed': Error -7"));
}

TEST_F(FaultMatrix, HostNameThatDoesNotResolve) {
  // In a network namespace of its own the lookup fails without any traffic.
  if (std::system("unshare -n true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no network namespaces here";
  auto result = Run("alarm-server.invalid", {"msg=x"}, {"unshare", "-n"});
  ExpectOrderlyEnd(result, 1, 0);
  EXPECT_TRUE(Contains(program.LogText(), "'FTP-DIR failed': Error -6")) << program.LogText();
}

TEST_F(FaultMatrix, ServerClosesTheControlConnectionMidTransfer) {
  FtpTestServer server({.sKind = "close_control"});
  std::string sBig(32 * 1024 * 1024, 'b');
  auto result = Run(server, {"localpath=" + WriteLocal("big.bin", sBig)});
  ExpectOrderlyEnd(result, 1, 1);
  EXPECT_EQ(CountPrefix(program.LogText(), "Warnhinweis von Modul 'FTP-PUT failed'"), 1);
}

TEST_F(FaultMatrix, StorRefusedWith552) {
  FtpTestServer server({.sKind = "stor_552"});
  auto result = Run(server, {"localpath=" + WriteLocal("a.txt", "alarm")});
  ExpectOrderlyEnd(result, 1, 1);
  EXPECT_TRUE(Contains(program.LogText(), "'FTP-PUT failed': Error 552"));
}

TEST_F(FaultMatrix, RemoteFolderThatCannotBeMade) {
  FtpTestServer server;
  // A file stands where the folder would have to be made.
  server.WriteFile("/no", "a file");
  auto result = Run(server, {"ftppath=/no/such/folder", "msg=x"});
  ExpectOrderlyEnd(result, 1, 1);
  EXPECT_TRUE(Contains(program.LogText(), "'FTP-PUT failed': Error 550"));
}

TEST_F(FaultMatrix, TricklingServerWithinTheLimitSucceeds) {
  FtpTestServer server({.sKind = "trickle"});
  // A listing of several pieces, each after a pause.
  for (int i = 0; i < 200; ++i) server.WriteFile("/camera-archive-" + std::to_string(i) + ".jpg", "x");
  auto result = Run(server, {"localpath=" + WriteLocal("a.txt", "alarm")});
  ExpectOrderlyEnd(result, 0, 1);
  EXPECT_EQ(server.ReadFile("/a.txt"), "alarm");
}

TEST_F(FaultMatrix, UnwritableLogFolderDoesNotStopTheRun) {
  FtpTestServer server;
  std::ofstream(program.Folder() + "/log").close();  // a file where the folder should be
  auto result = Run(server, {"localpath=" + WriteLocal("a.txt", "alarm")});
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 0) << result.sStderr;
  EXPECT_EQ(server.ReadFile("/a.txt"), "alarm");
  EXPECT_TRUE(fs::is_regular_file(program.Folder() + "/log"));
  // The caller learns that there is no log, once for the run.
  EXPECT_EQ(Occurrences(result.sStderr, "OrvFtpUploader: the log " + program.Folder() + "/log/"), 1) << result.sStderr;
  EXPECT_TRUE(Contains(result.sStderr, " cannot be written: Not a directory\n")) << result.sStderr;
}

TEST_F(FaultMatrix, ReadOnlySettingsFileAtShutdown) {
  FtpTestServer server;
  ::chmod(program.CfgPath().c_str(), 0444);
  auto result = Run(server, {"localpath=" + WriteLocal("a.txt", "alarm")});
  EXPECT_FALSE(result.bTimedOut);
  EXPECT_EQ(result.iExitStatus, 1);
  EXPECT_EQ(server.ReadFile("/a.txt"), "alarm");
  EXPECT_EQ(fs::file_size(program.CfgPath()), 0u);
  EXPECT_TRUE(Contains(program.LogText(), "Unerwarteter Fehler Nr. 70: Permission denied")) << program.LogText();
}

TEST(FaultMatrixSettings, DamagedSettingsFilesAreReplacedByValidOnes) {
  FtpTestServer server;
  cStringList valid;
  valid.SetKey("another key entirely");
  valid.SetValue("ftpusr", "someone");
  std::string sOtherKey;
  {
    TempFolder tmp;
    valid.Store(tmp.Path() + "/other.cfg");
    sOtherKey = LibOrv_ReadFile(tmp.Path() + "/other.cfg");
  }
  std::mt19937 rng(11);
  std::string sRandom(300, '\0');
  for (char& c : sRandom) c = static_cast<char>(rng());
  // A file that deciphers but is longer than any settings file (2 MiB) is
  // not read; the last variant is a FIFO, which nobody writes to.
  cStringList tooLong;
  tooLong.SetKey(kSettingsKey);
  tooLong.SetValue("ftpusr", "someone");
  tooLong.SetValue("pad", std::string(2 << 20, 'p'));
  std::string sTooLong;
  {
    TempFolder tmp;
    tooLong.Store(tmp.Path() + "/long.cfg");
    sTooLong = LibOrv_ReadFile(tmp.Path() + "/long.cfg");
  }
  const std::vector<std::string> damaged = {sOtherKey, sOtherKey.substr(0, sOtherKey.size() / 2), sRandom, sTooLong,
                                            "fifo"};

  // The runs take their fixed waits; they go side by side. All copies are
  // made first: a copy still open for writing cannot be started.
  std::vector<std::unique_ptr<ProgramCopy>> programs;
  for (const std::string& sContent : damaged) {
    programs.push_back(std::make_unique<ProgramCopy>());
    if (sContent == "fifo") ASSERT_EQ(::mkfifo(programs.back()->CfgPath().c_str(), 0600), 0);
    else LibOrv_WriteFile(sContent, programs.back()->CfgPath());
  }
  std::vector<std::future<std::pair<ProgramCopy::Result, std::chrono::steady_clock::duration>>> runs;
  for (auto& pProgram : programs) {
    ProgramCopy& p = *pProgram;
    runs.push_back(std::async(std::launch::async, [&p, &server] {
      const auto t0 = std::chrono::steady_clock::now();
      auto result = p.Run({.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=orvtest", "ftppwd=Pa55-w0rd!"},
                           .env = kHeadless,
                           .timeout = std::chrono::seconds(60)});
      return std::make_pair(result, std::chrono::steady_clock::now() - t0);
    }));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    auto [result, duration] = runs[i].get();
    EXPECT_EQ(result.iExitStatus, 0) << "settings variant " << i << ": " << result.sStderr;
    // A run with nothing to send takes its 10 s wait before the disconnect
    // and 2 s before the end.
    EXPECT_LT(duration, std::chrono::seconds(25)) << "settings variant " << i;
    EXPECT_LT(fs::file_size(programs[i]->CfgPath()), 1024u) << "settings variant " << i;
    cStringList stored;
    stored.SetKey(kSettingsKey);
    EXPECT_TRUE(stored.Load(programs[i]->CfgPath())) << "settings variant " << i;
    EXPECT_EQ(stored.GetValue("ftpusr"), "orvtest");
    EXPECT_EQ(stored.GetValue("ftppwd"), "Pa55-w0rd!");
  }
}

TEST_F(FaultMatrix, ClosingWhileARequestIsOutstandingEndsAtOnce) {
  FtpTestServer server({.sKind = "never_answer"});
  auto t0 = std::chrono::steady_clock::now();
  auto result = program.Run(
      {.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=u", "ftppwd=p", "msg=x"},
       .env = kHeadless,
       .timeout = std::chrono::seconds(30),
       .terminateWhen = [](const ProgramCopy& p) { return p.LogText().find("FTP Connect to") != std::string::npos; }});
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
  EXPECT_FALSE(result.bTimedOut);
  // The alarm did not arrive: it is kept for the next run, and the exit
  // status says so.
  EXPECT_EQ(result.iExitStatus, 1) << result.sStderr;
  const std::string sLog = program.LogText();
  EXPECT_EQ(ProgramCopy::LogEntries(sLog).back(), "terminated normally");
  EXPECT_FALSE(Contains(sLog, "FTP-DIR OK"));
  EXPECT_EQ(CountPrefix(sLog, "Outbox: the alarm was not delivered; it is kept as "), 1) << sLog;
}

}  // namespace
