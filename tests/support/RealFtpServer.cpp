#include "RealFtpServer.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "FtpTestServer.h"

namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kPassword = "Pa55-w0rd!";
constexpr const char* kVirtualUser = "orvtest";
// The virtual accounts are served as nobody:nogroup.
constexpr uid_t kVirtualUid = 65534;
constexpr gid_t kVirtualGid = 65534;
constexpr auto kStartTimeout = std::chrono::seconds(15);

std::filesystem::path ServersFolder() { return ORV_SERVERS_DIR; }

std::filesystem::path Program(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path))
    throw std::runtime_error("RealFtpServer: " + path.string() +
                             " is missing; scripts/install-deps.sh installs or unpacks it");
  return path;
}

void WriteText(const std::filesystem::path& path, const std::string& s) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << s;
  if (!out) throw std::runtime_error("RealFtpServer: cannot write " + path.string());
  std::filesystem::permissions(path, std::filesystem::perms(0600));
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& sLine : lines) s += sLine + "\n";
  return s;
}

std::string SystemAccountName() { return "orvftp" + std::to_string(::getpid()); }

// useradd and userdel fail while another process holds /etc/passwd.
constexpr int kAccountTries = 50;
constexpr auto kAccountRetryPause = std::chrono::milliseconds(100);
constexpr int kUseraddNameInUse = 9;
constexpr int kUserdelNoSuchUser = 6;

}  // namespace

RealFtpServer::RealFtpServer(Product eProduct, Tls eTls, Confinement eConfinement)
    : LoopbackFtpServer(kHost, eProduct == Product::kVsftpd ? SystemAccountName() : kVirtualUser, kPassword),
      m_eProduct(eProduct),
      m_eTls(eTls),
      m_eConfinement(eConfinement) {
  if (!Offers(eProduct, eTls)) throw std::invalid_argument("RealFtpServer: " + Name(eProduct) + " has no such TLS");
  if (eConfinement == Confinement::kNone && eProduct == Product::kPureFtpd)
    throw std::invalid_argument("RealFtpServer: Pure-FTPd is set up with confined accounts only");
  try {
    if (m_eProduct == Product::kVsftpd)
      AddSystemAccount();
    else
      AddVirtualAccount();
    Start();
  } catch (...) {
    m_process.Stop();
    RemoveSystemAccount();
    throw;
  }
}

RealFtpServer::~RealFtpServer() {
  // The account's sessions must be gone before the account can go.
  m_process.Stop();
  RemoveSystemAccount();
}

bool RealFtpServer::Offers(Product eProduct, Tls eTls) {
  return !(eProduct == Product::kPureFtpd && eTls == Tls::kImplicit);
}

std::string RealFtpServer::Name(Product eProduct) {
  switch (eProduct) {
    case Product::kVsftpd:
      return "vsftpd";
    case Product::kProftpd:
      return "proftpd";
    case Product::kPureFtpd:
      return "pure-ftpd";
  }
  return "?";
}

void RealFtpServer::AddSystemAccount() {
  const std::filesystem::path log = WorkFolder() / "account.log";
  const std::vector<std::string> add = {"useradd", "-M",       "-d",   Root().string(), "-s",
                                        "/bin/sh", "-p", LoopbackFtpServer::PasswordHash(Password()), User()};
  for (int iTry = 1;; ++iTry) {
    const int rc = ServerProcess::Run(add, log);
    if (rc == 0) break;
    // Left behind by a test process with the same id that was killed.
    if (rc == kUseraddNameInUse) ServerProcess::Run({"userdel", User()}, WorkFolder() / "userdel.log");
    if (iTry == kAccountTries)
      throw std::runtime_error("RealFtpServer: useradd failed:\n" + ReadWholeFile(log));
    std::this_thread::sleep_for(kAccountRetryPause);
  }
  m_sSystemAccount = User();
  const passwd* pAccount = ::getpwnam(User().c_str());
  if (pAccount == nullptr) throw std::runtime_error("RealFtpServer: the new account " + User() + " is not found");
  ServeAs(pAccount->pw_uid, pAccount->pw_gid);
}

void RealFtpServer::RemoveSystemAccount() {
  if (m_sSystemAccount.empty()) return;
  const std::filesystem::path log = WorkFolder() / "account.log";
  for (int iTry = 1; iTry <= kAccountTries; ++iTry) {
    const int rc = ServerProcess::Run({"userdel", m_sSystemAccount}, log);
    if (rc == 0 || rc == kUserdelNoSuchUser) {
      m_sSystemAccount.clear();
      return;
    }
    std::this_thread::sleep_for(kAccountRetryPause);
  }
  std::cerr << "RealFtpServer: cannot remove the account " << m_sSystemAccount << ":\n" << ReadWholeFile(log);
}

void RealFtpServer::AddVirtualAccount() {
  ServeAs(kVirtualUid, kVirtualGid);
  const std::string sIds = ":" + std::to_string(kVirtualUid) + ":" + std::to_string(kVirtualGid) + ":";
  const std::string sHash = LoopbackFtpServer::PasswordHash(Password());
  if (m_eProduct == Product::kProftpd) {
    WriteText(WorkFolder() / "ftpd.passwd", User() + ":" + sHash + sIds + ":" + Root().string() + ":/bin/sh\n");
    WriteText(WorkFolder() / "ftpd.group", User() + ":x:" + std::to_string(kVirtualGid) + ":\n");
    return;
  }
  // "/./" marks where Pure-FTPd locks the account in.
  const std::filesystem::path passwd = WorkFolder() / "pureftpd.passwd";
  WriteText(passwd, User() + ":" + sHash + sIds + ":" + Root().string() + "/./::::::::::::\n");
  const std::filesystem::path log = WorkFolder() / "pure-pw.log";
  const std::string sPurePw = Program(ServersFolder() / "pure-ftpd/usr/bin/pure-pw").string();
  if (ServerProcess::Run({sPurePw, "mkdb", (WorkFolder() / "pureftpd.pdb").string(), "-f", passwd.string()}, log) != 0)
    throw std::runtime_error("RealFtpServer: pure-pw mkdb failed:\n" + ReadWholeFile(log));
}

void RealFtpServer::Start() {
  // Another process may take the free port before the server binds it.
  for (int iTry = 1; iTry <= 3; ++iTry) {
    m_iPort = LoopbackFtpServer::FreeLoopbackPort();
    std::vector<std::string> command;
    switch (m_eProduct) {
      case Product::kVsftpd:
        command = VsftpdCommand();
        break;
      case Product::kProftpd:
        command = ProftpdCommand();
        break;
      case Product::kPureFtpd:
        command = PureFtpdCommand();
        break;
    }
    m_process.Start(command, OutputLog(), ServerProcess::Output::kLogFile);
    if (m_process.WaitUntilListening(Host(), m_iPort, kStartTimeout)) return;
    m_process.Stop();
  }
  throw std::runtime_error("RealFtpServer: " + Name(m_eProduct) + " did not start:\n" + ServerLog());
}

std::vector<std::string> RealFtpServer::VsftpdCommand() const {
  const std::filesystem::path empty = WorkFolder() / "empty";
  std::filesystem::create_directories(empty);
  std::vector<std::string> config = {
      "listen=YES", "listen_ipv6=NO", "listen_address=" + Host(), "listen_port=" + PortText(), "background=NO",
      "anonymous_enable=NO", "local_enable=YES", "write_enable=YES", "local_umask=022",
      // The root is the account's home, which puts must be able to write to.
      m_eConfinement == Confinement::kHome ? "chroot_local_user=YES" : "chroot_local_user=NO",
      "allow_writeable_chroot=YES", "secure_chroot_dir=" + empty.string(),
      "pam_service_name=vsftpd", "xferlog_enable=YES", "vsftpd_log_file=" + (WorkFolder() / "vsftpd.log").string(),
      "log_ftp_protocol=YES"};
  if (m_eTls != Tls::kNone) {
    const TestCertificates::Identity& identity = TestCertificates::Get().LoopbackRsa();
    config.insert(config.end(), {"ssl_enable=YES", "rsa_cert_file=" + identity.sCertFile,
                                 "rsa_private_key_file=" + identity.sKeyFile, "debug_ssl=YES"});
    if (m_eTls == Tls::kImplicit) config.push_back("implicit_ssl=YES");
  }
  const std::filesystem::path file = WorkFolder() / "vsftpd.conf";
  WriteText(file, JoinLines(config));
  return {Program("/usr/sbin/vsftpd").string(), file.string()};
}

std::vector<std::string> RealFtpServer::ProftpdCommand() const {
  const std::filesystem::path installed = ServersFolder() / "proftpd";
  auto work = [this](const char* sName) { return (WorkFolder() / sName).string(); };
  std::vector<std::string> config = {"ServerType standalone",
                                     "ServerName \"OrvFtpUploader test\"",
                                     "DefaultAddress " + Host(),
                                     "SocketBindTight on",
                                     "UseIPv6 off",
                                     "Port " + PortText(),
                                     "PidFile " + work("proftpd.pid"),
                                     "ScoreboardFile " + work("proftpd.scoreboard"),
                                     "DelayTable none",
                                     "WtmpLog off",
                                     "UseReverseDNS off",
                                     "SystemLog " + work("proftpd.log"),
                                     "ExtendedLog " + work("proftpd-commands.log") + " ALL",
                                     "TransferLog none",
                                     "User nobody",
                                     "Group nogroup",
                                     "Umask 022",
                                     "AllowOverwrite on",
                                     "AuthOrder mod_auth_file.c",
                                     "AuthUserFile " + work("ftpd.passwd"),
                                     "AuthGroupFile " + work("ftpd.group")};
  if (m_eConfinement == Confinement::kHome) config.push_back("DefaultRoot ~");
  if (m_eTls != Tls::kNone) {
    const TestCertificates::Identity& identity = TestCertificates::Get().Loopback();
    Program(installed / "usr/lib/proftpd/mod_tls.so");
    config.insert(config.end(), {"ModulePath " + (installed / "usr/lib/proftpd").string(), "LoadModule mod_tls.c",
                                 "TLSEngine on", "TLSRequired on", "TLSLog " + work("proftpd-tls.log"),
                                 "TLSECCertificateFile " + identity.sCertFile,
                                 "TLSECCertificateKeyFile " + identity.sKeyFile});
    if (m_eTls == Tls::kImplicit) config.push_back("TLSOptions UseImplicitSSL");
  }
  WriteText(work("proftpd.conf"), JoinLines(config));
  return {Program(installed / "usr/sbin/proftpd").string(), "--nodaemon", "--config", work("proftpd.conf")};
}

std::vector<std::string> RealFtpServer::PureFtpdCommand() const {
  std::vector<std::string> command = {Program(ServersFolder() / "pure-ftpd/usr/sbin/pure-ftpd").string(),
                                      "--bind", Host() + "," + PortText(),
                                      "--login", "puredb:" + (WorkFolder() / "pureftpd.pdb").string(),
                                      "--noanonymous", "--dontresolve",
                                      // It logs through syslog only, which a test machine need not run.
                                      "--syslogfacility", "none",
                                      "--pidfile", (WorkFolder() / "pure-ftpd.pid").string()};
  if (m_eTls != Tls::kNone) {
    const TestCertificates::Identity& identity = TestCertificates::Get().Loopback();
    // 3: TLS for the login and for every data connection.
    command.insert(command.end(), {"--tls", "3", "--certfile", identity.sCertFile + "," + identity.sKeyFile});
  }
  return command;
}

std::vector<std::string> RealFtpServer::OwnLogs() const {
  switch (m_eProduct) {
    case Product::kVsftpd:
      return {"vsftpd.log"};
    case Product::kProftpd:
      return {"proftpd.log", "proftpd-tls.log", "proftpd-commands.log"};
    case Product::kPureFtpd:
      return {};
  }
  return {};
}

std::string RealFtpServer::ServerLog() const {
  std::string s = "--- " + Name(m_eProduct) + " output\n" + LoopbackFtpServer::ServerLog();
  for (const std::string& sName : OwnLogs()) {
    const std::filesystem::path path = WorkFolder() / sName;
    if (std::filesystem::exists(path)) s += "--- " + sName + "\n" + ReadWholeFile(path);
  }
  return s;
}
