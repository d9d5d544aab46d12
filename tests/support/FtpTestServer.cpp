#include "FtpTestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

constexpr const char* kPython = "/usr/bin/python3";  // Debian's, with pyftpdlib
constexpr int kStartTimeoutMs = 15000;

std::filesystem::path ScriptPath() {
  const char* sSource = std::getenv("ORV_SOURCE_DIR");
  if (sSource == nullptr || *sSource == '\0')
    throw std::runtime_error("FtpTestServer: ORV_SOURCE_DIR is not set");
  return std::filesystem::path(sSource) / "tests" / "servers" / "orv_test_ftpd.py";
}

std::filesystem::path MakeWorkDir() {
  const char* sTmp = std::getenv("TMPDIR");
  std::string sTemplate = std::string(sTmp && *sTmp ? sTmp : "/tmp") + "/orv-ftpd-XXXXXX";
  if (::mkdtemp(sTemplate.data()) == nullptr) throw std::runtime_error("FtpTestServer: mkdtemp failed");
  return sTemplate;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string sLine; std::getline(in, sLine);) lines.push_back(sLine);
  return lines;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

// Reads the "PORT <n>" line the server prints once it listens.
int ReadPort(int fd) {
  std::string sOut;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (sOut.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return 0;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return 0;  // the server ended before it listened
    sOut.append(buf, static_cast<std::size_t>(n));
  }
  if (sOut.rfind("PORT ", 0) != 0) return 0;
  return std::atoi(sOut.c_str() + 5);
}

}  // namespace

FtpTestServer::FtpTestServer() : FtpTestServer(Options()) {}

FtpTestServer::FtpTestServer(Options options) : m_options(std::move(options)) {
  m_workDir = MakeWorkDir();
  m_root = m_workDir / "root";
  try {
    std::filesystem::create_directory(m_root);
    Start();
  } catch (...) {
    Stop();
    throw;
  }
}

FtpTestServer::~FtpTestServer() { Stop(); }

void FtpTestServer::Start() {
  const std::string sScript = ScriptPath().string();
  const std::string sRoot = m_root.string();
  const std::string sLogins = (m_workDir / "logins.txt").string();
  const std::string sCommands = (m_workDir / "commands.txt").string();
  const std::string sLog = (m_workDir / "server.log").string();
  std::vector<std::string> args = {kPython,   sScript,        "--root",  sRoot,
                                   "--user",  m_options.sUser, "--password", m_options.sPassword,
                                   "--host",  m_options.sHost, "--kind",  m_options.sKind,
                                   "--logins", sLogins,        "--commands", sCommands};
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);

  int aiPipe[2];
  if (::pipe2(aiPipe, O_CLOEXEC) != 0) throw std::runtime_error("FtpTestServer: pipe failed");
  Fd readEnd(aiPipe[0]);
  Fd writeEnd(aiPipe[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, sLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int rc = ::posix_spawn(&m_pid, kPython, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    m_pid = -1;
    throw std::runtime_error("FtpTestServer: cannot start " + std::string(kPython));
  }
  // Only the child writes now, so its end shows when it ends early.
  writeEnd.Close();

  m_iPort = ReadPort(readEnd.Get());
  if (m_iPort <= 0) throw std::runtime_error("FtpTestServer: server did not start:\n" + ServerLog());
}

void FtpTestServer::Stop() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    int iStatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(m_pid, &iStatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &iStatus, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
  }
  std::error_code ec;
  if (!m_workDir.empty()) std::filesystem::remove_all(m_workDir, ec);
}

std::filesystem::path FtpTestServer::LocalPath(const std::string& sRemotePath) const {
  std::string sRelative = sRemotePath;
  while (!sRelative.empty() && sRelative.front() == '/') sRelative.erase(0, 1);
  return m_root / sRelative;
}

void FtpTestServer::WriteFile(const std::string& sRemotePath, const std::string& sContent) const {
  std::ofstream out(LocalPath(sRemotePath), std::ios::binary | std::ios::trunc);
  out.write(sContent.data(), static_cast<std::streamsize>(sContent.size()));
  if (!out) throw std::runtime_error("FtpTestServer: cannot write " + sRemotePath);
}

std::string FtpTestServer::ReadFile(const std::string& sRemotePath) const {
  const std::filesystem::path path = LocalPath(sRemotePath);
  if (!std::filesystem::exists(path)) throw std::runtime_error("FtpTestServer: no file " + sRemotePath);
  return ReadWhole(path);
}

void FtpTestServer::MakeFolder(const std::string& sRemotePath) const {
  std::filesystem::create_directories(LocalPath(sRemotePath));
}

int FtpTestServer::LoginCount() const {
  return static_cast<int>(Lines(ReadWhole(m_workDir / "logins.txt")).size());
}

std::vector<std::string> FtpTestServer::Commands() const { return Lines(ReadWhole(m_workDir / "commands.txt")); }

std::string FtpTestServer::ServerLog() const { return ReadWhole(m_workDir / "server.log"); }
