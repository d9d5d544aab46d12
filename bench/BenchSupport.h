#pragma once

// Pieces the benchmark drivers share: an application channel that keeps
// the log in memory, and a clock.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "AppChannel.h"
#include "OrvError.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// A running application as the FTP layer sees it; messages and log lines
// are kept, so that a failed run can say why.
class BenchApp : public AppChannel {
 public:
  BenchApp() { OrvApp_Set(this); }
  ~BenchApp() override {
    if (OrvApp() == this) OrvApp_Set(nullptr);
  }
  BenchApp(const BenchApp&) = delete;
  BenchApp& operator=(const BenchApp&) = delete;

  void Msg(long m, const std::string& sModule, const std::string& sMsg, const std::string&, const OrvError*,
           const std::string&) override {
    vsMessages.push_back(std::to_string(m) + " " + sModule + ": " + sMsg);
  }
  void Log(const std::string& s, long) override { vsLog.push_back(s); }
  long Status() const override { return 1; }
  std::string StartUtc() const override { return "20260101000000000"; }
  void MsgBox(const std::string& sText, const std::string& sTitle) override {
    vsMessages.push_back(sTitle + ": " + sText);
  }
  bool Ask(const std::string&, const std::string&) override { return false; }

  void PrintTo(std::FILE* f) const {
    for (const std::string& s : vsLog) std::fprintf(f, "log: %s\n", s.c_str());
    for (const std::string& s : vsMessages) std::fprintf(f, "message: %s\n", s.c_str());
  }

  std::vector<std::string> vsLog;
  std::vector<std::string> vsMessages;
};

}  // namespace bench
