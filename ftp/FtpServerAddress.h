#pragma once

#include <string>

// The server field's text split into host and port text. Accepted forms:
// host, host:port, [ipv6]:port, a bare IPv6 address, and ftp://host[:port][/].
// Without a port the port text is "21". The host keeps no brackets.
struct FtpServerAddress {
  std::string sHost;
  std::string sPort;
};

FtpServerAddress FtpServerAddress_Parse(const std::string& sText);
