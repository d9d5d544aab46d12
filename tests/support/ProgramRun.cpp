#include "ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "UniqueFd.h"

extern char** environ;

ProgramCopy::ProgramCopy() { CopyProgram(); }

void ProgramCopy::UseWholeWaits() {
  m_bWholeWaits = true;
  CopyProgram();
}

void ProgramCopy::CopyProgram() const {
  const char* szShort = m_bWholeWaits ? nullptr : std::getenv("ORV_SHORT_WAITS_PROGRAM");
  const char* szProgram = szShort && *szShort ? szShort : std::getenv("ORV_PROGRAM");
  if (!szProgram) throw std::runtime_error("ORV_PROGRAM is not set");
  std::filesystem::copy_file(szProgram, ProgramPath(), std::filesystem::copy_options::overwrite_existing);
}

namespace {

std::string ReadWhole(const std::string& sName) {
  std::ifstream in(sName, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

std::string ProgramCopy::LogFileName() const {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder() + "/log", ec))
    if (entry.path().extension() == ".log") return entry.path().string();
  return "";
}

std::string ProgramCopy::LogText() const {
  std::string sName = LogFileName();
  if (sName.empty()) return "";
  return ReadWhole(sName);
}

std::map<std::string, std::string> ProgramCopy::Logs() const {
  std::map<std::string, std::string> logs;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder() + "/log", ec))
    if (entry.path().extension() == ".log") logs[entry.path().filename().string()] = ReadWhole(entry.path().string());
  return logs;
}

std::vector<std::string> ProgramCopy::LogEntries(const std::string& sLog) {
  // Each entry: "DD.MM.YYYY hh:mm:ss.fff: " (25 bytes), the text, CR LF.
  std::vector<std::string> entries;
  std::size_t p = 0;
  for (std::size_t e; (e = sLog.find("\r\n", p)) != std::string::npos; p = e + 2)
    entries.push_back(e - p >= 25 ? sLog.substr(p + 25, e - p - 25) : std::string());
  return entries;
}

ProgramCopy::Result ProgramCopy::Run(const Options& options) const {
  std::map<std::string, std::string> env;
  for (char** p = environ; *p; ++p) {
    std::string s = *p;
    std::size_t e = s.find('=');
    if (e != std::string::npos) env[s.substr(0, e)] = s.substr(e + 1);
  }
  for (const auto& [sName, value] : options.env) {
    if (value) env[sName] = *value;
    else env.erase(sName);
  }
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings = options.prefix;
  argStrings.push_back(ProgramPath());
  argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  // Every end of the pipes has an owner, so none stays open when a step
  // fails or throws.
  int aiOut[2], aiErr[2];
  if (pipe2(aiOut, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  UniqueFd fdOutRead(aiOut[0]), fdOutWrite(aiOut[1]);
  if (pipe2(aiErr, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  UniqueFd fdErrRead(aiErr[0]), fdErrWrite(aiErr[1]);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(fdOutWrite.Get(), 1);
    dup2(fdErrWrite.Get(), 2);
    // Its own descriptor closes at the exec; the copy on 0 stays.
    int fdNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    dup2(fdNull, 0);
    if (chdir(Folder().c_str()) != 0) _exit(127);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  fdOutWrite.Close();
  fdErrWrite.Close();
  m_pidRunning = pid;

  Result result;
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  bool bTerminated = false;
  bool bOutOpen = true, bErrOpen = true;
  int iStatus = 0;
  bool bExited = false;
  while (!bExited) {
    pollfd fds[2] = {{bOutOpen ? fdOutRead.Get() : -1, POLLIN, 0}, {bErrOpen ? fdErrRead.Get() : -1, POLLIN, 0}};
    poll(fds, 2, 50);
    char ac[4096];
    if (bOutOpen && (fds[0].revents & (POLLIN | POLLHUP))) {
      ssize_t n = read(fdOutRead.Get(), ac, sizeof ac);
      if (n > 0) result.sStdout.append(ac, static_cast<std::size_t>(n));
      else bOutOpen = false;
    }
    if (bErrOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
      ssize_t n = read(fdErrRead.Get(), ac, sizeof ac);
      if (n > 0) result.sStderr.append(ac, static_cast<std::size_t>(n));
      else bErrOpen = false;
    }
    if (waitpid(pid, &iStatus, WNOHANG) == pid) {
      bExited = true;
      break;
    }
    if (!bTerminated && options.terminateWhen && options.terminateWhen(*this)) {
      bTerminated = true;
      kill(pid, options.iTerminateSignal);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      result.bTimedOut = true;
      kill(pid, SIGKILL);
      waitpid(pid, &iStatus, 0);
      bExited = true;
    }
  }
  // Whatever is still in the pipes.
  char ac[4096];
  ssize_t n;
  while (bOutOpen && (n = read(fdOutRead.Get(), ac, sizeof ac)) > 0)
    result.sStdout.append(ac, static_cast<std::size_t>(n));
  while (bErrOpen && (n = read(fdErrRead.Get(), ac, sizeof ac)) > 0)
    result.sStderr.append(ac, static_cast<std::size_t>(n));
  m_pidRunning = 0;
  if (WIFEXITED(iStatus)) result.iExitStatus = WEXITSTATUS(iStatus);
  if (WIFSIGNALED(iStatus)) result.iSignal = WTERMSIG(iStatus);
  return result;
}
