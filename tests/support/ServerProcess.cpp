#include "ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

bool Accepts(const std::string& sHost, int iPort) {
  sockaddr_storage address{};
  socklen_t lLength = 0;
  auto* p4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* p6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (::inet_pton(AF_INET, sHost.c_str(), &p4->sin_addr) == 1) {
    p4->sin_family = AF_INET;
    p4->sin_port = htons(static_cast<uint16_t>(iPort));
    lLength = sizeof *p4;
  } else if (::inet_pton(AF_INET6, sHost.c_str(), &p6->sin6_addr) == 1) {
    p6->sin6_family = AF_INET6;
    p6->sin6_port = htons(static_cast<uint16_t>(iPort));
    lLength = sizeof *p6;
  } else {
    throw std::runtime_error("ServerProcess: not an address: " + sHost);
  }
  const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool bConnected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), lLength) == 0;
  ::close(fd);
  return bConnected;
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

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    // Ends the server when the test process ends, whatever ends it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
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

bool ServerProcess::WaitUntilAccepting(const std::string& sHost, int iPort, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!Running()) return false;
    if (Accepts(sHost, iPort)) return true;
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
