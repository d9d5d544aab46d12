#include "SshTestServer.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kPassword = "Pa55-w0rd!";
// sshd re-executes itself for every connection, which takes an absolute path.
constexpr const char* kSshd = "/usr/sbin/sshd";
// Where sshd, started as root, locks in the unprivileged half of a session
// before login; the package makes it only when the system's sshd starts.
constexpr const char* kPrivilegeSeparationFolder = "/run/sshd";
constexpr auto kStartTimeout = std::chrono::seconds(15);
constexpr auto kSessionsEndTimeout = std::chrono::seconds(5);
constexpr auto kPollPause = std::chrono::milliseconds(10);

// useradd and userdel fail while another process holds /etc/passwd.
constexpr int kAccountTries = 50;
constexpr auto kAccountRetryPause = std::chrono::milliseconds(100);
constexpr int kUseraddNameInUse = 9;
constexpr int kUserdelNoSuchUser = 6;

void WriteText(const std::filesystem::path& path, const std::string& s, std::filesystem::perms mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << s;
  if (!out) throw std::runtime_error("SshTestServer: cannot write " + path.string());
  std::filesystem::permissions(path, mode);
}

std::string FirstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

void RunSshKeygen(std::vector<std::string> args, const std::filesystem::path& log) {
  args.insert(args.begin(), "ssh-keygen");
  if (ServerProcess::Run(args, log) != 0)
    throw std::runtime_error("SshTestServer: ssh-keygen failed:\n" + LoopbackFtpServer::ReadWholeFile(log));
}

// An ed25519 key pair at path and path.pub, without a comment; its public
// line ("ssh-ed25519 AAAA...").
std::string MakeKeyPair(const std::filesystem::path& path, const std::string& sPassphrase,
                        const std::filesystem::path& log) {
  std::filesystem::path publicFile = path;
  publicFile += ".pub";
  // ssh-keygen asks before it overwrites, and takes no for an answer.
  std::filesystem::remove(path);
  std::filesystem::remove(publicFile);
  RunSshKeygen({"-q", "-t", "ed25519", "-N", sPassphrase, "-C", "", "-f", path.string()}, log);
  std::istringstream fields(LoopbackFtpServer::ReadWholeFile(publicFile));
  std::string sType, sKey;
  fields >> sType >> sKey;
  return sType + " " + sKey;
}

// The two host keys, made once per test process in a folder that goes when
// the process ends.
class HostKeys {
 public:
  struct Key {
    std::filesystem::path privateFile;
    std::string sPublicLine;
    std::string sFingerprint;
  };

  static const HostKeys& Get() {
    static const HostKeys keys;
    return keys;
  }
  ~HostKeys() {
    // A forked child that ends normally must not take the parent's files.
    if (::getpid() != m_owner) return;
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }
  HostKeys(const HostKeys&) = delete;
  HostKeys& operator=(const HostKeys&) = delete;

  const Key& Of(SshTestServer::HostKey eKey) const {
    return eKey == SshTestServer::HostKey::kUsual ? m_usual : m_changed;
  }
  // For the output of tools that belong to no server.
  std::filesystem::path ToolLog() const { return m_folder / "ssh-keygen.log"; }

 private:
  HostKeys() : m_folder(MakeFolder()), m_owner(::getpid()) {
    try {
      m_usual = Make("host_ed25519_usual");
      m_changed = Make("host_ed25519_changed");
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove_all(m_folder, ec);
      throw;
    }
  }

  static std::filesystem::path MakeFolder() {
    std::string sTemplate = (std::filesystem::temp_directory_path() / "orv-ssh-host-keys.XXXXXX").string();
    if (::mkdtemp(sTemplate.data()) == nullptr) throw std::runtime_error("SshTestServer: mkdtemp failed");
    return sTemplate;
  }

  Key Make(const std::string& sName) const {
    Key key;
    key.privateFile = m_folder / sName;
    key.sPublicLine = MakeKeyPair(key.privateFile, "", ToolLog());
    // "256 SHA256:... no comment (ED25519)"
    RunSshKeygen({"-l", "-E", "sha256", "-f", key.privateFile.string() + ".pub"}, ToolLog());
    std::istringstream fields(LoopbackFtpServer::ReadWholeFile(ToolLog()));
    std::string sBits;
    fields >> sBits >> key.sFingerprint;
    return key;
  }

  std::filesystem::path m_folder;
  pid_t m_owner;
  Key m_usual, m_changed;
};

std::string AccountName() {
  static std::atomic<int> s_iServers{0};
  const int iServer = ++s_iServers;
  std::string sName = "orvssh" + std::to_string(::getpid());
  if (iServer > 1) sName += "-" + std::to_string(iServer);
  return sName;
}

struct ProcessEntry {
  pid_t pid;
  pid_t parent;
  uid_t uid;
};

// The processes that run (zombies left out), from /proc.
std::vector<ProcessEntry> RunningProcesses() {
  std::vector<ProcessEntry> processes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string sName = entry.path().filename().string();
    if (sName.find_first_not_of("0123456789") != std::string::npos) continue;
    // A process that ends meanwhile leaves the file empty.
    std::ifstream status(entry.path() / "status");
    ProcessEntry process{std::atoi(sName.c_str()), -1, 0};
    bool bRunning = false;
    bool bUid = false;
    for (std::string sLine; std::getline(status, sLine);) {
      std::istringstream fields(sLine);
      std::string sKey;
      fields >> sKey;
      if (sKey == "State:") {
        std::string sState;
        fields >> sState;
        bRunning = sState != "Z" && sState != "X";
      } else if (sKey == "PPid:") {
        fields >> process.parent;
      } else if (sKey == "Uid:") {
        bUid = static_cast<bool>(fields >> process.uid);
      }
    }
    if (bRunning && bUid && process.parent >= 0) processes.push_back(process);
  }
  return processes;
}

// What the listener forked, with everything that forked in turn, and
// whatever runs as the account.
std::vector<pid_t> SessionProcesses(pid_t listener, std::optional<uid_t> account) {
  const std::vector<ProcessEntry> processes = RunningProcesses();
  std::multimap<pid_t, pid_t> children;
  for (const ProcessEntry& process : processes) children.emplace(process.parent, process.pid);
  std::vector<pid_t> sessions;
  if (listener > 0) {
    std::vector<pid_t> parents = {listener};
    while (!parents.empty()) {
      const pid_t parent = parents.back();
      parents.pop_back();
      for (auto [it, end] = children.equal_range(parent); it != end; ++it) {
        sessions.push_back(it->second);
        parents.push_back(it->second);
      }
    }
  }
  // Never root's processes, whatever happened to the account.
  if (account && *account != 0) {
    for (const ProcessEntry& process : processes)
      if (process.uid == *account) sessions.push_back(process.pid);
  }
  return sessions;
}

}  // namespace

SshTestServer::SshTestServer(HostKey eKey) : LoopbackFtpServer(kHost, AccountName(), kPassword), m_eKey(eKey) {
  try {
    // sshd reads the file as the account.
    WriteText(AuthorizedKeysFile(), "", std::filesystem::perms(0644));
    AddAccount();
    Start(0);
  } catch (...) {
    Stop();
    RemoveAccount();
    throw;
  }
}

SshTestServer::~SshTestServer() {
  Stop();
  RemoveAccount();
}

void SshTestServer::AddAccount() {
  const std::filesystem::path log = WorkFolder() / "account.log";
  const std::vector<std::string> add = {"useradd", "-M",       "-d",   Root().string(), "-s",
                                        "/bin/sh", "-p", LoopbackFtpServer::PasswordHash(Password()), User()};
  for (int iTry = 1;; ++iTry) {
    const int rc = ServerProcess::Run(add, log);
    if (rc == 0) break;
    // Left behind by a test process with the same id that was killed.
    if (rc == kUseraddNameInUse) ServerProcess::Run({"userdel", User()}, WorkFolder() / "userdel.log");
    if (iTry == kAccountTries) throw std::runtime_error("SshTestServer: useradd failed:\n" + ReadWholeFile(log));
    std::this_thread::sleep_for(kAccountRetryPause);
  }
  const passwd* pAccount = ::getpwnam(User().c_str());
  if (pAccount == nullptr || pAccount->pw_uid == 0) {
    ServerProcess::Run({"userdel", User()}, log);
    throw std::runtime_error("SshTestServer: the new account " + User() + " is not found");
  }
  m_account = pAccount->pw_uid;
  ServeAs(pAccount->pw_uid, pAccount->pw_gid);
}

void SshTestServer::RemoveAccount() {
  if (!m_account) return;
  const std::filesystem::path log = WorkFolder() / "account.log";
  // userdel also refuses while a process of the account, even one that has
  // ended but is not yet reaped, is there.
  for (int iTry = 1; iTry <= kAccountTries; ++iTry) {
    const int rc = ServerProcess::Run({"userdel", User()}, log);
    if (rc == 0 || rc == kUserdelNoSuchUser) {
      m_account.reset();
      return;
    }
    std::this_thread::sleep_for(kAccountRetryPause);
  }
  std::cerr << "SshTestServer: cannot remove the account " << User() << ":\n" << ReadWholeFile(log);
}

void SshTestServer::Start(int iPort) {
  std::filesystem::create_directories(kPrivilegeSeparationFolder);
  // Another process may take a free port before the server binds it.
  const int iTries = iPort == 0 ? 3 : 1;
  for (int iTry = 1; iTry <= iTries; ++iTry) {
    m_iPort = iPort == 0 ? LoopbackFtpServer::FreeLoopbackPort() : iPort;
    WriteConfig();
    std::filesystem::remove(PidFile());
    m_process.Start({kSshd, "-D", "-f", ConfigFile().string(), "-E", SshdLog().string()}, OutputLog(),
                    ServerProcess::Output::kLogFile);
    if (m_process.WaitUntilListening(Host(), m_iPort, kStartTimeout)) {
      m_listener = ReadListenerPid();
      if (m_listener > 0) return;
    }
    m_process.Stop();
  }
  throw std::runtime_error("SshTestServer: sshd did not start:\n" + ServerLog());
}

pid_t SshTestServer::ReadListenerPid() const {
  // sshd writes the file just after it starts to listen.
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string sPid = ReadWholeFile(PidFile());
    if (!sPid.empty() && sPid.back() == '\n') return std::atoi(sPid.c_str());
    std::this_thread::sleep_for(kPollPause);
  }
  return -1;
}

void SshTestServer::Stop() {
  try {
    // Sessions run apart from the listener's process group, so they outlive
    // it unless they end first.
    EndSessions(true);
    m_process.Stop();
    m_listener = -1;
    // Sessions that began meanwhile; all that are logged in run as the account.
    EndSessions(true);
  } catch (const std::exception& e) {
    m_process.Stop();
    m_listener = -1;
    std::cerr << e.what() << "\n";
  }
}

void SshTestServer::PresentHostKey(HostKey eKey) {
  Stop();
  m_eKey = eKey;
  Start(m_iPort);
}

void SshTestServer::WriteConfig() const {
  const std::vector<std::string> config = {
      "ListenAddress " + Host(),
      "Port " + PortText(),
      "AddressFamily inet",
      "HostKey " + HostKeys::Get().Of(m_eKey).privateFile.string(),
      "PidFile " + PidFile().string(),
      "LogLevel VERBOSE",
      "UseDNS no",
      "PermitRootLogin no",
      "MaxAuthTries 4",
      "PasswordAuthentication yes",
      "KbdInteractiveAuthentication no",
      "PubkeyAuthentication yes",
      "AuthorizedKeysFile " + AuthorizedKeysFile().string(),
      // Passwords are checked against /etc/shadow, and a login opens no PAM session.
      "UsePAM no",
      // The work folder lies in /tmp, which everyone may write to.
      "StrictModes no",
      // Its own log goes to syslog only (a session closes sshd's log file
      // before it starts it), so the log shows logins and sessions, not files.
      "Subsystem sftp internal-sftp"};
  std::string sText;
  for (const std::string& sLine : config) sText += sLine + "\n";
  WriteText(ConfigFile(), sText, std::filesystem::perms(0600));
}

void SshTestServer::EndSessions(bool bLater) {
  const pid_t listener = m_process.Running() ? m_listener : -1;
  const auto deadline = std::chrono::steady_clock::now() + kSessionsEndTimeout;
  const std::vector<pid_t> now = SessionProcesses(listener, m_account);
  for (;;) {
    std::vector<pid_t> sessions = SessionProcesses(listener, m_account);
    if (!bLater) {
      std::erase_if(sessions, [&now](pid_t pid) { return std::find(now.begin(), now.end(), pid) == now.end(); });
    }
    if (sessions.empty()) return;
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("SshTestServer: sessions of " + User() + " do not end");
    // All at once: a process whose parent is killed first may otherwise
    // slip out of the listener's tree.
    for (const pid_t pid : sessions) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(kPollPause);
  }
}

std::string SshTestServer::KnownHostsLine(HostKey eKey) const {
  // ssh names a host on its standard port without the brackets.
  const std::string sAddress = m_iPort == 22 ? Host() : "[" + Host() + "]:" + PortText();
  return sAddress + " " + HostKeys::Get().Of(eKey).sPublicLine;
}

std::string SshTestServer::HashedKnownHostsLine(HostKey eKey) const {
  const std::filesystem::path file = WorkFolder() / "known_hosts";
  WriteText(file, KnownHostsLine(eKey) + "\n", std::filesystem::perms(0600));
  RunSshKeygen({"-H", "-f", file.string()}, WorkFolder() / "ssh-keygen.log");
  const std::string sLine = FirstLine(ReadWholeFile(file));
  std::filesystem::remove(file);
  std::filesystem::remove(file.string() + ".old");
  return sLine;
}

std::string SshTestServer::HostKeyFingerprint(HostKey eKey) const { return HostKeys::Get().Of(eKey).sFingerprint; }

void SshTestServer::AuthorizeKey(const std::string& sPublicKeyLine) const {
  std::ofstream out(AuthorizedKeysFile(), std::ios::binary | std::ios::app);
  out << sPublicKeyLine << "\n";
  if (!out) throw std::runtime_error("SshTestServer: cannot write " + AuthorizedKeysFile().string());
}

SshTestServer::ClientKey SshTestServer::MakeClientKey(const std::filesystem::path& folder, const std::string& sName,
                                                      const std::string& sPassphrase) {
  std::filesystem::create_directories(folder);
  ClientKey key;
  key.privateFile = folder / sName;
  key.publicFile = folder / (sName + ".pub");
  key.sPublicLine = MakeKeyPair(key.privateFile, sPassphrase, HostKeys::Get().ToolLog());
  return key;
}

std::string SshTestServer::ServerLog() const {
  return "--- sshd output\n" + LoopbackFtpServer::ServerLog() + "--- sshd.log\n" + ReadWholeFile(SshdLog());
}
