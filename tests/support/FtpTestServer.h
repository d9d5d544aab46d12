#pragma once

#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "LoopbackFtpServer.h"

// Certificates for TLS test servers, made once per process with the openssl
// tool in a temporary folder that goes away at the end: a test certificate
// authority and server certificates with their keys (PEM files).
class TestCertificates {
 public:
  struct Identity {
    std::string sCertFile;
    std::string sKeyFile;
  };

  // Throws std::runtime_error when the openssl tool fails.
  static const TestCertificates& Get();
  ~TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  // The authority that a client under test is told to trust.
  const std::string& CaFile() const { return m_sCaFile; }
  // For 127.0.0.1, ::1 and localhost, issued by CaFile.
  const Identity& Loopback() const { return m_loopback; }
  // The loopback names, issued by another authority that nobody trusts.
  const Identity& UnknownIssuer() const { return m_unknownIssuer; }
  // Issued by CaFile for other.example.org and 192.0.2.10 only.
  const Identity& OtherHost() const { return m_otherHost; }
  // The loopback names, issued by CaFile, valid in January 2020 only.
  const Identity& Expired() const { return m_expired; }
  // As Loopback, with an RSA key, for servers whose cipher lists want one;
  // made at the first call.
  const Identity& LoopbackRsa() const;

 private:
  TestCertificates();
  Identity Issue(const std::string& sName, const std::string& sCommonName, const char* sCa, const char* sExtensions,
                 const std::vector<std::string>& validity, const std::vector<std::string>& key) const;

  std::filesystem::path m_folder;
  pid_t m_owner;
  std::string m_sCaFile;
  Identity m_loopback, m_unknownIssuer, m_otherHost, m_expired;
  mutable std::once_flag m_rsaMade;
  mutable Identity m_loopbackRsa;
};

// A pyftpdlib server for one test: a temporary root folder, one user, a free
// loopback port. It starts in the constructor (which returns once the server
// accepts connections, or throws std::runtime_error) and stops in the
// destructor, which also removes the root. Kinds other than "normal" are the
// misbehaving servers of tests/servers/orv_test_ftpd.py: refuse_login,
// stor_552, stor_553, never_answer, mute_after_login, drop_data, trickle,
// slow_upload (takes uploads in at 256 KiB/s), no_confirm (no reply after a
// transfer), short_idle (drops idle sessions after a second), unix_list (no
// MLSD), dos_list (no MLSD, Windows-style LIST), no_quit_reply,
// drop_first_upload (breaks off the first upload), announce_size (tells a
// download's size in the reply that opens it, and sends only 64 KiB of
// its second download, which it calls complete), no_resume (breaks off
// its first upload and first download, answers REST and APPE with 502),
// no_mkd, no_rename,
// wrong_size (SIZE says 1), starts_late (refuses connections for its first
// three seconds), close_control (closes the control connection while an
// upload's data flows), close_control_on_broken (the same for uploads whose
// name holds "broken"). Hostile kinds send what no real server does:
// endless_line (an MLSD line without end), endless_listing (MLSD lines
// without end), trickle_listing (a listing at a byte a second), drip_lines
// (a hundred lines a second), endless_reply, endless_reply_line and
// drip_reply (PWD answered by reply lines without end, one line without
// end, one line a second), lying_size (SIZE beyond any file), bad_pasv (no
// EPSV, a PASV reply that is no address), hostile_names (names holding
// "/", "\", CR and NUL, and files "." and "..").
//
// With sTlsKind set, the server is one of tests/servers/orv_tls_ftpd.py
// instead (sKind must stay "normal"): explicit (AUTH TLS and PROT P
// required), implicit (TLS from the first byte), explicit_no_prot (refuses
// protected data connections), explicit_short_idle (drops idle sessions
// after a second). It presents the given certificate, or
// TestCertificates' loopback one.
class FtpTestServer : public LoopbackFtpServer {
 public:
  struct Options {
    std::string sKind = "normal";
    std::string sHost = "127.0.0.1";  // or "::1"
    std::string sUser = "orvtest";
    std::string sPassword = "Pa55-w0rd!";
    std::string sTlsKind{};
    TestCertificates::Identity certificate{};
    // A command the server runs under, absolute (ShapedLoopback::Prefix).
    std::vector<std::string> prefix{};
  };

  FtpTestServer();
  explicit FtpTestServer(Options options);

  // Successful logins so far, over all connections.
  int LoginCount() const;
  // The commands received so far, in order, passwords masked.
  std::vector<std::string> Commands() const;

 private:
  void Start(const Options& options);
};
