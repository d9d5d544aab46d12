#pragma once

#include <string>

#include "OrvFtpLibrary.h"

// The server field's text split into host, port text and security. Accepted
// forms: host, host:port, [ipv6]:port, a bare IPv6 address, and
// scheme://host[:port][/] with the schemes ftp (plain), ftpes (explicit TLS,
// port 21 by default), ftps (implicit TLS, port 990 by default) and sftp
// (SSH, port 22 by default). Without
// a port the port text is the scheme's default, "21" without a scheme. The
// host keeps no brackets.
struct FtpServerAddress {
  std::string sHost;
  std::string sPort;
  OrvFtpSecurity eSecurity = OrvFtpSecurity::kPlain;
};

FtpServerAddress FtpServerAddress_Parse(const std::string& sText);
