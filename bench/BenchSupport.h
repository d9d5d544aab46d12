#pragma once

// Pieces the benchmark drivers share: an application channel that keeps
// the log in memory, a pump for the FTP library's completions on the
// driver's own thread, and a clock.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "AppChannel.h"
#include "OrvError.h"
#include "OrvFtpLibrary.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

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

  void PrintTo(std::FILE* f) const {
    for (const std::string& s : vsLog) std::fprintf(f, "log: %s\n", s.c_str());
    for (const std::string& s : vsMessages) std::fprintf(f, "message: %s\n", s.c_str());
  }

  std::vector<std::string> vsLog;
  std::vector<std::string> vsMessages;
};

// Runs the library's completions on this thread, as the program's event
// loop does; wakes as soon as the library posts one.
class Pump {
 public:
  Pump() {
    OrvFtpClientSetNotifier([this] {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bNotified = true;
      m_wake.notify_one();
    });
  }
  ~Pump() { OrvFtpClientSetNotifier(nullptr); }
  Pump(const Pump&) = delete;
  Pump& operator=(const Pump&) = delete;

  bool Until(const std::function<bool()>& fnDone, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      OrvFtpClientPump();
      if (fnDone()) return true;
      std::unique_lock<std::mutex> lock(m_mutex);
      if (!m_wake.wait_until(lock, deadline, [this] { return m_bNotified; })) return false;
      m_bNotified = false;
    }
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_bNotified = false;
};

}  // namespace bench
