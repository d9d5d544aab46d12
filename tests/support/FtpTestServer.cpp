#include "FtpTestServer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr const char* kPython = "/usr/bin/python3";  // Debian's, with pyftpdlib

std::filesystem::path ScriptPath(const char* sScript) {
  const char* sSource = std::getenv("ORV_SOURCE_DIR");
  if (sSource == nullptr || *sSource == '\0')
    throw std::runtime_error("FtpTestServer: ORV_SOURCE_DIR is not set");
  return std::filesystem::path(sSource) / "tests" / "servers" / sScript;
}

std::filesystem::path MakeWorkDir(const char* sPrefix) {
  const char* sTmp = std::getenv("TMPDIR");
  std::string sTemplate = std::string(sTmp && *sTmp ? sTmp : "/tmp") + "/" + sPrefix + "-XXXXXX";
  if (::mkdtemp(sTemplate.data()) == nullptr) throw std::runtime_error("FtpTestServer: mkdtemp failed");
  return sTemplate;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string sLine; std::getline(in, sLine);) lines.push_back(sLine);
  return lines;
}

// Runs the openssl tool and waits for it; its output goes to the log file,
// which a failure quotes.
void RunOpenssl(std::vector<std::string> args, const std::filesystem::path& log) {
  args.insert(args.begin(), "openssl");
  if (ServerProcess::Run(args, log) != 0)
    throw std::runtime_error("TestCertificates: openssl " + args[1] + " failed:\n" +
                             LoopbackFtpServer::ReadWholeFile(log));
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

namespace {

const std::vector<std::string> kEcKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
const std::vector<std::string> kCurrent = {"-days", "30"};

}  // namespace

TestCertificates::TestCertificates() : m_folder(MakeWorkDir("orv-certs")), m_owner(::getpid()) {
  const std::filesystem::path log = m_folder / "openssl.log";
  const std::string sConfig = (m_folder / "openssl.cnf").string();
  auto file = [this](const std::string& sName) { return (m_folder / sName).string(); };
  try {
    WriteText(sConfig, OpensslConfig(m_folder));
    for (const char* sCa : {"trusted", "rogue"}) {
      WriteText(file(std::string(sCa) + "-index.txt"), "");
      WriteText(file(std::string(sCa) + "-serial.txt"), sCa[0] == 't' ? "1000\n" : "2000\n");
      std::vector<std::string> args = {"req", "-x509", "-config", sConfig, "-extensions", "authority"};
      args.insert(args.end(), kEcKey.begin(), kEcKey.end());
      args.insert(args.end(), {"-keyout", file(std::string(sCa) + "-ca.key"), "-out",
                               file(std::string(sCa) + "-ca.pem"), "-days", "30", "-subj",
                               std::string("/CN=OrvFtpUploader ") + sCa + " test CA"});
      RunOpenssl(args, log);
    }
    m_sCaFile = file("trusted-ca.pem");
    m_loopback = Issue("loopback", "localhost", "trusted", "loopback", kCurrent, kEcKey);
    m_unknownIssuer = Issue("unknown-issuer", "localhost", "rogue", "loopback", kCurrent, kEcKey);
    m_otherHost = Issue("other-host", "other.example.org", "trusted", "other_host", kCurrent, kEcKey);
    m_expired = Issue("expired", "localhost", "trusted", "loopback",
                      {"-startdate", "20200101000000Z", "-enddate", "20200201000000Z"}, kEcKey);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
    throw;
  }
}

TestCertificates::Identity TestCertificates::Issue(const std::string& sName, const std::string& sCommonName,
                                                   const char* sCa, const char* sExtensions,
                                                   const std::vector<std::string>& validity,
                                                   const std::vector<std::string>& key) const {
  const std::filesystem::path log = m_folder / "openssl.log";
  const std::string sConfig = (m_folder / "openssl.cnf").string();
  auto file = [this](const std::string& sFile) { return (m_folder / sFile).string(); };
  std::vector<std::string> request = {"req", "-new", "-config", sConfig};
  request.insert(request.end(), key.begin(), key.end());
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
}

const TestCertificates::Identity& TestCertificates::LoopbackRsa() const {
  std::call_once(m_rsaMade, [this] {
    m_loopbackRsa =
        Issue("loopback-rsa", "localhost", "trusted", "loopback", kCurrent, {"-newkey", "rsa:2048", "-nodes"});
  });
  return m_loopbackRsa;
}

TestCertificates::~TestCertificates() {
  // A forked child that ends normally must not take the parent's files.
  if (::getpid() != m_owner) return;
  std::error_code ec;
  std::filesystem::remove_all(m_folder, ec);
}

FtpTestServer::FtpTestServer() : FtpTestServer(Options()) {}

FtpTestServer::FtpTestServer(Options options)
    : LoopbackFtpServer(options.sHost, options.sUser, options.sPassword) {
  Start(options);
}

void FtpTestServer::Start(const Options& options) {
  const bool bTls = !options.sTlsKind.empty();
  if (bTls && options.sKind != "normal")
    throw std::runtime_error("FtpTestServer: a TLS server has no kind " + options.sKind);
  const std::string sScript = ScriptPath(bTls ? "orv_tls_ftpd.py" : "orv_test_ftpd.py").string();
  std::vector<std::string> args = {kPython, sScript, "--root", Root().string(), "--user", User(), "--password",
                                   Password(), "--host", Host(), "--kind", bTls ? options.sTlsKind : options.sKind};
  args.insert(args.end(), {"--logins", (WorkFolder() / "logins.txt").string(), "--commands",
                           (WorkFolder() / "commands.txt").string()});
  if (bTls) {
    TestCertificates::Identity identity = options.certificate;
    if (identity.sCertFile.empty()) identity = TestCertificates::Get().Loopback();
    args.insert(args.end(), {"--certfile", identity.sCertFile, "--keyfile", identity.sKeyFile});
  }
  args.insert(args.begin(), options.prefix.begin(), options.prefix.end());
  m_process.Start(args, OutputLog(), ServerProcess::Output::kStdoutPipe);
  m_iPort = ReadScriptPort(m_process.StdoutFd());
  if (m_iPort <= 0) throw std::runtime_error("FtpTestServer: server did not start:\n" + ServerLog());
}

int FtpTestServer::LoginCount() const {
  return static_cast<int>(Lines(ReadWholeFile(WorkFolder() / "logins.txt")).size());
}

std::vector<std::string> FtpTestServer::Commands() const {
  return Lines(ReadWholeFile(WorkFolder() / "commands.txt"));
}
