#include "ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

bool Listening(const std::string& sAddress, int iPort) {
  in_addr address{};
  if (::inet_pton(AF_INET, sAddress.c_str(), &address) != 1)
    throw std::runtime_error("ServerProcess: not an IPv4 address: " + sAddress);
  // The kernel's table shows the address as the number its bytes make in
  // memory, the port as a number, both in hexadecimal; 0A is LISTEN.
  char acLocal[16];
  std::snprintf(acLocal, sizeof acLocal, "%08X:%04X", address.s_addr, static_cast<unsigned>(iPort));
  std::ifstream table("/proc/net/tcp");
  std::string sLine;
  std::getline(table, sLine);
  while (std::getline(table, sLine)) {
    std::istringstream fields(sLine);
    std::string sSlot, sLocal, sRemote, sState;
    fields >> sSlot >> sLocal >> sRemote >> sState;
    if (sLocal == acLocal && sState == "0A") return true;
  }
  return false;
}

}  // namespace

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Start(const std::vector<std::string>& args, const std::filesystem::path& log, Output eOutput) {
  if (m_pid > 0) throw std::logic_error("ServerProcess: already started");
  // Everything the child needs is prepared here: between fork and exec it
  // may only make system calls.
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& s : copies) argv.push_back(s.data());
  argv.push_back(nullptr);
  const std::string sLog = log.string();
  const int iLog = ::open(sLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (iLog < 0) throw std::runtime_error("ServerProcess: cannot create " + sLog);
  int aiPipe[2] = {-1, -1};
  if (eOutput == Output::kStdoutPipe && ::pipe2(aiPipe, O_CLOEXEC) != 0) {
    ::close(iLog);
    throw std::runtime_error("ServerProcess: pipe failed");
  }
  const int iOut = eOutput == Output::kStdoutPipe ? aiPipe[1] : iLog;
  const pid_t parent = ::getpid();
  sigset_t noSignals;
  sigemptyset(&noSignals);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    // Ends the server when the test process ends, whatever ends it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    // A signal the test's thread blocks must still reach the server.
    ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    const int iNull = ::open("/dev/null", O_RDONLY);
    if (iNull < 0 || ::dup2(iNull, 0) < 0 || ::dup2(iOut, 1) < 0 || ::dup2(iLog, 2) < 0) ::_exit(127);
    // Sockets of the test's own connections must not stay open in the server.
    ::close_range(3, ~0U, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(iLog);
  if (aiPipe[1] >= 0) ::close(aiPipe[1]);
  if (pid < 0) {
    if (aiPipe[0] >= 0) ::close(aiPipe[0]);
    throw std::runtime_error("ServerProcess: cannot start " + args.front());
  }
  ::setpgid(pid, pid);
  m_pid = pid;
  m_iStdout = aiPipe[0];
}

bool ServerProcess::Running() {
  if (m_pid <= 0) return false;
  int iStatus = 0;
  return ::waitpid(m_pid, &iStatus, WNOHANG) == 0;
}

bool ServerProcess::WaitUntilListening(const std::string& sAddress, int iPort, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!Running()) return false;
    if (Listening(sAddress, iPort)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void ServerProcess::Stop() {
  if (m_iStdout >= 0) ::close(m_iStdout);
  m_iStdout = -1;
  if (m_pid <= 0) return;
  ::kill(-m_pid, SIGTERM);
  int iStatus = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  pid_t ended = 0;
  while ((ended = ::waitpid(m_pid, &iStatus, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (ended == 0) {
    ::kill(-m_pid, SIGKILL);
    while (::waitpid(m_pid, &iStatus, 0) < 0 && errno == EINTR) {
    }
  }
  // Sessions the server forked may outlive it for a moment.
  ::kill(-m_pid, SIGKILL);
  m_pid = -1;
}

int ServerProcess::Run(const std::vector<std::string>& args, const std::filesystem::path& log) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& s : copies) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("ServerProcess: cannot start " + args.front());
  int iStatus = 0;
  while (::waitpid(pid, &iStatus, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}
