#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The host as it goes into an FTP URL (IPv6 addresses in brackets), or
// nothing when sHost is no plain host: empty, or with characters that would
// give the URL another user, port or path.
std::optional<std::string> FtpUrlHost(const std::string& sHost);

// The URL path for a remote path. Every byte but the unreserved ones and "/"
// is percent-encoded; an absolute path starts at the server's root rather
// than the login folder.
std::string FtpUrlPath(const std::string& sPath);

// Why a TLS connection failed, in words a user can act on, or "" when the
// failure had nothing to do with TLS. iCurlCode is the transfer's libcurl
// result, lVerifyResult the X.509 verification result of its handshake,
// sCommand the last command sent and sCurlText libcurl's error text.
std::string TlsFailureText(int iCurlCode, long lVerifyResult, const std::string& sCommand,
                           const std::string& sCurlText);

// The folders and files of one listing, in the server's order.
struct FtpListing {
  std::vector<std::string> asFolders;
  std::vector<std::string> asFiles;
};

// Reads an MLSD reply as it arrives: one entry per line, facts, one space,
// the name. The current and the parent folder come out as "." and "..".
class MlsdParser {
 public:
  explicit MlsdParser(FtpListing& listing) : m_listing(listing) {}
  void Feed(const char* p, std::size_t n);
  // The last line may lack its line end.
  void Finish();
  // Forgets a line begun, for a reply that starts over.
  void Reset() { m_sPartial.clear(); }

 private:
  void ParseLine(std::string_view sLine);

  FtpListing& m_listing;
  std::string m_sPartial;
};
