#pragma once

#include <atomic>
#include <chrono>
#include <sys/types.h>

#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TempFolder.h"

// A copy of the built program in a folder of its own, so its settings file
// and log folder are the test's; runs it as a subprocess. Where the test
// program is given the test build of the program (ORV_SHORT_WAITS_PROGRAM),
// the copy is of that build, whose fixed waits are short (ShortWaits.h),
// unless the test asks for the whole waits.
class ProgramCopy {
 public:
  ProgramCopy();

  // Copies the program that waits as a normal run does, for a test that
  // checks the waits or relies on them.
  void UseWholeWaits();

  const std::string& Folder() const { return m_folder.Path(); }
  std::string ProgramPath() const { return Folder() + "/OrvFtpUploader"; }
  std::string CfgPath() const { return Folder() + "/OrvFtpUploader.cfg"; }
  // Puts the built program into Folder() again, as the constructor does
  // (after a file system has been mounted there, say).
  void CopyProgram() const;
  // The run's log (the only file in log/), empty when there is none.
  std::string LogText() const;
  std::string LogFileName() const;
  // Every log in log/ (one per run), by file name.
  std::map<std::string, std::string> Logs() const;
  // The log's entries without their time stamps.
  static std::vector<std::string> LogEntries(const std::string& sLog);

  struct Result {
    int iExitStatus = -1;  // -1 when killed by a signal
    int iSignal = 0;
    std::string sStdout, sStderr;
    bool bTimedOut = false;
  };
  // Every member has its default, so that a test names only those it sets.
  struct Options {
    std::vector<std::string> args{};
    // A command the program runs under, such as "unshare -n".
    std::vector<std::string> prefix{};
    // Variables set (or, with no value, removed) on top of this process's.
    std::map<std::string, std::optional<std::string>> env{};
    std::chrono::milliseconds timeout{60000};
    // Polled while the program runs; when it returns true the program gets
    // iTerminateSignal (once).
    std::function<bool(const ProgramCopy&)> terminateWhen{};
    int iTerminateSignal = SIGTERM;
  };
  Result Run(const Options& options) const;
  // The process of the run under way (the one started last, when several
  // are), for terminateWhen to look at; 0 after a run.
  pid_t RunningPid() const { return m_pidRunning; }

 private:
  TempFolder m_folder;
  bool m_bWholeWaits = false;
  mutable std::atomic<pid_t> m_pidRunning = 0;
};
