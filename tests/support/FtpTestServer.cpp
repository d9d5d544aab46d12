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

std::filesystem::path ScriptPath(const char* sScript) {
  const char* sSource = std::getenv("ORV_SOURCE_DIR");
  if (sSource == nullptr || *sSource == '\0')
    throw std::runtime_error("FtpTestServer: ORV_SOURCE_DIR is not set");
  return std::filesystem::path(sSource) / "tests" / "servers" / sScript;
}

std::filesystem::path MakeWorkDir(const char* sPrefix = "orv-ftpd") {
  const char* sTmp = std::getenv("TMPDIR");
  std::string sTemplate = std::string(sTmp && *sTmp ? sTmp : "/tmp") + "/" + sPrefix + "-XXXXXX";
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

// Runs the openssl tool and waits for it; its output goes to the log file,
// which a failure quotes.
void RunOpenssl(std::vector<std::string> args, const std::filesystem::path& log) {
  args.insert(args.begin(), "openssl");
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("TestCertificates: cannot start openssl");
  int iStatus = 0;
  while (::waitpid(pid, &iStatus, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(iStatus) || WEXITSTATUS(iStatus) != 0)
    throw std::runtime_error("TestCertificates: openssl " + args[1] + " failed:\n" + ReadWhole(log));
}

// Sections for the two authorities, each with its own records, and the
// extensions of the certificates they issue.
std::string OpensslConfig(const std::filesystem::path& folder) {
  std::string s =
      "[req]\n"
      "distinguished_name = dn\n"
      "[dn]\n"
      "[authority]\n"
      "basicConstraints = critical, CA:TRUE\n"
      "keyUsage = critical, keyCertSign, cRLSign\n"
      "subjectKeyIdentifier = hash\n"
      "[loopback]\n"
      "basicConstraints = CA:FALSE\n"
      "keyUsage = critical, digitalSignature\n"
      "extendedKeyUsage = serverAuth\n"
      "subjectAltName = IP:127.0.0.1, IP:::1, DNS:localhost\n"
      "[other_host]\n"
      "basicConstraints = CA:FALSE\n"
      "keyUsage = critical, digitalSignature\n"
      "extendedKeyUsage = serverAuth\n"
      "subjectAltName = DNS:other.example.org, IP:192.0.2.10\n"
      "[any_name]\n"
      "commonName = supplied\n";
  for (const char* sCa : {"trusted", "rogue"}) {
    const std::string sBase = (folder / sCa).string();
    s += std::string("[") + sCa + "]\n" + "database = " + sBase + "-index.txt\n" + "serial = " + sBase +
         "-serial.txt\n" + "new_certs_dir = " + folder.string() + "\n" +
         "default_md = sha256\npolicy = any_name\nunique_subject = no\n";
  }
  return s;
}

void WriteText(const std::filesystem::path& path, const std::string& s) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << s;
  if (!out) throw std::runtime_error("TestCertificates: cannot write " + path.string());
}

}  // namespace

const TestCertificates& TestCertificates::Get() {
  static const TestCertificates certificates;
  return certificates;
}

TestCertificates::TestCertificates() : m_folder(MakeWorkDir("orv-certs")), m_owner(::getpid()) {
  const std::filesystem::path log = m_folder / "openssl.log";
  const std::string sConfig = (m_folder / "openssl.cnf").string();
  auto file = [this](const std::string& sName) { return (m_folder / sName).string(); };
  const std::vector<std::string> ecKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  try {
    WriteText(sConfig, OpensslConfig(m_folder));
    for (const char* sCa : {"trusted", "rogue"}) {
      WriteText(file(std::string(sCa) + "-index.txt"), "");
      WriteText(file(std::string(sCa) + "-serial.txt"), sCa[0] == 't' ? "1000\n" : "2000\n");
      std::vector<std::string> args = {"req", "-x509", "-config", sConfig, "-extensions", "authority"};
      args.insert(args.end(), ecKey.begin(), ecKey.end());
      args.insert(args.end(), {"-keyout", file(std::string(sCa) + "-ca.key"), "-out",
                               file(std::string(sCa) + "-ca.pem"), "-days", "30", "-subj",
                               std::string("/CN=OrvFtpUploader ") + sCa + " test CA"});
      RunOpenssl(args, log);
    }
    auto issue = [&](const std::string& sName, const std::string& sCommonName, const char* sCa,
                     const char* sExtensions, std::vector<std::string> validity) {
      std::vector<std::string> request = {"req", "-new", "-config", sConfig};
      request.insert(request.end(), ecKey.begin(), ecKey.end());
      request.insert(request.end(),
                     {"-keyout", file(sName + ".key"), "-out", file(sName + ".csr"), "-subj", "/CN=" + sCommonName});
      RunOpenssl(request, log);
      std::vector<std::string> sign = {"ca",   "-batch",      "-notext", "-config", sConfig, "-name", sCa,
                                       "-cert", file(std::string(sCa) + "-ca.pem"), "-keyfile",
                                       file(std::string(sCa) + "-ca.key"), "-extensions", sExtensions, "-in",
                                       file(sName + ".csr"), "-out", file(sName + ".pem")};
      sign.insert(sign.end(), validity.begin(), validity.end());
      RunOpenssl(sign, log);
      return Identity{file(sName + ".pem"), file(sName + ".key")};
    };
    const std::vector<std::string> current = {"-days", "30"};
    m_sCaFile = file("trusted-ca.pem");
    m_loopback = issue("loopback", "localhost", "trusted", "loopback", current);
    m_unknownIssuer = issue("unknown-issuer", "localhost", "rogue", "loopback", current);
    m_otherHost = issue("other-host", "other.example.org", "trusted", "other_host", current);
    m_expired = issue("expired", "localhost", "trusted", "loopback",
                      {"-startdate", "20200101000000Z", "-enddate", "20200201000000Z"});
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
    throw;
  }
}

TestCertificates::~TestCertificates() {
  // A forked child that ends normally must not take the parent's files.
  if (::getpid() != m_owner) return;
  std::error_code ec;
  std::filesystem::remove_all(m_folder, ec);
}

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
  const bool bTls = !m_options.sTlsKind.empty();
  if (bTls && m_options.sKind != "normal")
    throw std::runtime_error("FtpTestServer: a TLS server has no kind " + m_options.sKind);
  const std::string sScript = ScriptPath(bTls ? "orv_tls_ftpd.py" : "orv_test_ftpd.py").string();
  const std::string sRoot = m_root.string();
  const std::string sLogins = (m_workDir / "logins.txt").string();
  const std::string sCommands = (m_workDir / "commands.txt").string();
  const std::string sLog = (m_workDir / "server.log").string();
  std::vector<std::string> args = {kPython,   sScript,        "--root",  sRoot,
                                   "--user",  m_options.sUser, "--password", m_options.sPassword,
                                   "--host",  m_options.sHost, "--kind",  bTls ? m_options.sTlsKind : m_options.sKind,
                                   "--logins", sLogins,        "--commands", sCommands};
  if (bTls) {
    TestCertificates::Identity identity = m_options.certificate;
    if (identity.sCertFile.empty()) identity = TestCertificates::Get().Loopback();
    args.insert(args.end(), {"--certfile", identity.sCertFile, "--keyfile", identity.sKeyFile});
  }
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
