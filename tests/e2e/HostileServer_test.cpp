// Servers that send what no real server does: a run's memory and time stay
// bounded, it ends by itself with its exit status, and an alarm it could
// not deliver stays kept. Each run is limited to 2 GB of address space, as
// a small device would be.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "FtpTestServer.h"
#include "ProgramRun.h"

namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::optional<std::string>> kHeadless = {
    {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};

#ifdef ORV_SANITIZED
// The sanitizers reserve terabytes of address space and keep memory of
// their own: a small device's limit cannot be set, and the peak may hold
// the sanitizers' share.
const std::vector<std::string> kAddressLimit = {};
constexpr long kPeakLimitKb = 1024 * 1024;
#else
const std::vector<std::string> kAddressLimit = {"/usr/bin/prlimit", "--as=2000000000", "--"};
constexpr long kPeakLimitKb = 256 * 1024;
#endif
std::vector<std::string> Prefixed(std::vector<std::string> first, const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

// An alarm run ends within this, whatever the server does.
constexpr auto kRunBound = std::chrono::minutes(5);

bool Contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

int Count(const std::string& sLog, const std::string& sPart) {
  int n = 0;
  for (const std::string& s : ProgramCopy::LogEntries(sLog))
    if (Contains(s, sPart)) ++n;
  return n;
}

// Kept alarms in the program's outbox.
int KeptAlarms(const ProgramCopy& program) {
  int n = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(program.Folder() + "/outbox", ec))
    if (entry.is_directory() && entry.path().filename() != "failed") ++n;
  return n;
}

struct Mode {
  std::string sKind;
  int iExitStatus;
  // A log line that tells why the run ended as it did.
  std::string sWhy;
};

struct Outcome {
  ProgramCopy::Result result;
  std::chrono::steady_clock::duration elapsed{};
  long lPeakKb = -1;
  std::string sLog;
  int iKept = 0;
};

// A server of the mode's kind and a copy of the program for it.
struct ModeRun {
  explicit ModeRun(const Mode& mode) : server({.sKind = mode.sKind}) {
    server.MakeFolder("/in");
    std::ofstream(program.CfgPath()).close();
  }
  FtpTestServer server;
  ProgramCopy program;
};

Outcome RunAgainst(ModeRun& run) {
  const FtpTestServer& server = run.server;
  const ProgramCopy& program = run.program;
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  outcome.result = program.Run({.args = {"ftpurl=127.0.0.1:" + server.PortText(), "ftpusr=" + server.User(),
                                         "ftppwd=" + server.Password(), "ftppath=in", "msg=Door 3 opened"},
                                .prefix = Prefixed({"/usr/bin/time", "-f", "peak-kb=%M"}, kAddressLimit),
                                .env = kHeadless,
                                .timeout = kRunBound + std::chrono::seconds(30)});
  outcome.elapsed = std::chrono::steady_clock::now() - start;
  const std::size_t lPeak = outcome.result.sStderr.rfind("peak-kb=");
  if (lPeak != std::string::npos) outcome.lPeakKb = std::stol(outcome.result.sStderr.substr(lPeak + 8));
  outcome.sLog = program.LogText();
  outcome.iKept = KeptAlarms(program);
  return outcome;
}

// The modes run side by side: most of them wait for the program's limits.
TEST(HostileServer, EveryModeEndsInTimeAndMemoryAndKeepsItsAlarm) {
  const std::vector<Mode> modes = {
      {"endless_line", 1, "a line of the listing is longer than 65536 bytes"},
      {"endless_listing", 1, "the listing has more than 1000000 lines"},
      // libcurl ends a reply beyond 300 KiB itself, as it ends a line.
      {"endless_reply", 1, "Too large response headers"},
      {"drip_reply", 1, "failed with -28"},
      {"endless_reply_line", 1, "Too large response headers"},
      {"trickle_listing", 1, "less than 64 bytes a second for 60 s"},
      {"drip_lines", 1, "its limit; it ends now"},
      {"lying_size", 1, "FTP-PUT failed"},
      {"bad_pasv", 1, "FTP-DIR failed"},
      {"hostile_names", 0, "7 entries of the listing of / left out"},
  };
  // Every copy is made before any runs: a copy still open for writing in
  // one thread cannot be started from another.
  std::vector<std::unique_ptr<ModeRun>> modeRuns;
  for (const Mode& mode : modes) modeRuns.push_back(std::make_unique<ModeRun>(mode));
  std::vector<std::future<Outcome>> runs;
  for (auto& pRun : modeRuns) runs.push_back(std::async(std::launch::async, RunAgainst, std::ref(*pRun)));
  for (std::size_t i = 0; i < modes.size(); ++i) {
    const Mode& mode = modes[i];
    const Outcome outcome = runs[i].get();
    const auto lSeconds = std::chrono::duration_cast<std::chrono::seconds>(outcome.elapsed).count();
    std::cout << "mode " << mode.sKind << ": " << lSeconds << " s, peak " << outcome.lPeakKb / 1024 << " MiB, exit "
              << outcome.result.iExitStatus << ", kept " << outcome.iKept << "\n";
    SCOPED_TRACE(mode.sKind + "\n" + outcome.sLog);
    EXPECT_FALSE(outcome.result.bTimedOut);
    EXPECT_EQ(outcome.result.iSignal, 0);
    EXPECT_LT(outcome.elapsed, kRunBound);
    EXPECT_GT(outcome.lPeakKb, 0) << outcome.result.sStderr;
    EXPECT_LT(outcome.lPeakKb, kPeakLimitKb);
    EXPECT_EQ(outcome.result.iExitStatus, mode.iExitStatus) << outcome.result.sStderr;
    EXPECT_GE(Count(outcome.sLog, mode.sWhy), 1);
    const std::vector<std::string> entries = ProgramCopy::LogEntries(outcome.sLog);
    EXPECT_TRUE(!entries.empty() && entries.back() == "terminated normally");
    // An alarm that did not arrive is kept once; one that arrived is not.
    EXPECT_EQ(outcome.iKept, mode.iExitStatus == 0 ? 0 : 1);
    EXPECT_EQ(Count(outcome.sLog, "Outbox: the alarm was not delivered; it is kept as "),
              mode.iExitStatus == 0 ? 0 : 1);
  }
}

}  // namespace
