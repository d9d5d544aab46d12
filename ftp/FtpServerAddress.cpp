#include "FtpServerAddress.h"

namespace {

struct Scheme {
  const char* sPrefix;
  const char* sDefaultPort;
  OrvFtpSecurity eSecurity;
};

constexpr Scheme kSchemes[] = {
    {"ftp://", "21", OrvFtpSecurity::kPlain},
    {"ftpes://", "21", OrvFtpSecurity::kExplicitTls},
    {"ftps://", "990", OrvFtpSecurity::kImplicitTls},
    {"sftp://", "22", OrvFtpSecurity::kSftp},
};

bool StartsWithNoCase(const std::string& s, const std::string& sPrefix) {
  if (s.size() < sPrefix.size()) return false;
  for (std::size_t i = 0; i < sPrefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != sPrefix[i]) return false;
  }
  return true;
}

}  // namespace

FtpServerAddress FtpServerAddress_Parse(const std::string& sText) {
  std::string s = sText;
  FtpServerAddress address{"", "21", OrvFtpSecurity::kPlain};
  for (const Scheme& scheme : kSchemes) {
    if (!StartsWithNoCase(s, scheme.sPrefix)) continue;
    address.sPort = scheme.sDefaultPort;
    address.eSecurity = scheme.eSecurity;
    s = s.substr(std::string(scheme.sPrefix).size());
    // Anything from the first "/" on names a folder, not the server.
    std::size_t pSlash = s.find('/');
    if (pSlash != std::string::npos) s = s.substr(0, pSlash);
    break;
  }

  address.sHost = s;
  if (!s.empty() && s[0] == '[') {
    std::size_t pClose = s.find(']');
    if (pClose == std::string::npos) return address;  // the library refuses it
    address.sHost = s.substr(1, pClose - 1);
    if (pClose + 1 < s.size() && s[pClose + 1] == ':') address.sPort = s.substr(pClose + 2);
    return address;
  }
  std::size_t pColon = s.find(':');
  // Two colons or more: a bare IPv6 address without a port.
  if (pColon == std::string::npos || s.find(':', pColon + 1) != std::string::npos) return address;
  address.sHost = s.substr(0, pColon);
  address.sPort = s.substr(pColon + 1);
  return address;
}
