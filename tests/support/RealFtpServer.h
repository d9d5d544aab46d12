#pragma once

#include <string>
#include <vector>

#include "LoopbackFtpServer.h"

// vsftpd, ProFTPD or Pure-FTPd for one test, set up as an installed server
// usually is, on a free port of 127.0.0.1, in the foreground, with a
// configuration file of its own in the work folder. The account is virtual
// where the server has virtual accounts (ProFTPD, Pure-FTPd: uid and gid
// 65534); vsftpd knows only system accounts, so one is added for the test
// (orvftp<process id>) and removed again at the end. Every account is
// locked into the root folder, unless the server is made as one that does
// not confine its users (Confinement::kNone, vsftpd and ProFTPD): then the
// server's "/" is the machine's root, and the user starts in the root
// folder as its home (PWD names Root()).
//
// With TLS the server presents TestCertificates' loopback identity (vsftpd
// the RSA one: its own cipher list has ECDHE-RSA only below TLS 1.3) and
// refuses a login and any data connection that TLS does not protect; the
// rest of its TLS settings are its own defaults (vsftpd and ProFTPD thus
// want data connections to resume the control connection's TLS session).
//
// vsftpd comes from its installed package; ProFTPD and Pure-FTPd from the
// packages scripts/install-deps.sh unpacks into ORV_SERVERS_DIR.
class RealFtpServer : public LoopbackFtpServer {
 public:
  enum class Product { kVsftpd, kProftpd, kPureFtpd };
  enum class Tls { kNone, kExplicit, kImplicit };
  enum class Confinement { kHome, kNone };

  // Starts the server and returns once it accepts connections; throws
  // std::runtime_error (with the server's log) when it does not start.
  RealFtpServer(Product eProduct, Tls eTls, Confinement eConfinement = Confinement::kHome);
  ~RealFtpServer() override;

  // Pure-FTPd has no implicit TLS.
  static bool Offers(Product eProduct, Tls eTls);
  static std::string Name(Product eProduct);

  // The server's output and its own log files.
  std::string ServerLog() const override;

 private:
  void AddSystemAccount();
  void RemoveSystemAccount();
  void AddVirtualAccount();
  void Start();
  std::vector<std::string> VsftpdCommand() const;
  std::vector<std::string> ProftpdCommand() const;
  std::vector<std::string> PureFtpdCommand() const;
  std::vector<std::string> OwnLogs() const;

  Product m_eProduct;
  Tls m_eTls;
  Confinement m_eConfinement;
  std::string m_sSystemAccount;
};
