#include "FtpText.h"

#include <algorithm>
#include <ctime>
#include <string_view>

#include "CurlHandles.h"
#include "FtpListingFacts.h"

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

std::string UrlPart(CURLU* pUrl, CURLUPart part) {
  char* p = nullptr;
  if (curl_url_get(pUrl, part, &p, 0) != CURLUE_OK) return {};
  std::string s(p);
  curl_free(p);
  return s;
}

bool HasUrlPart(CURLU* pUrl, CURLUPart part) {
  char* p = nullptr;
  CURLUcode rc = curl_url_get(pUrl, part, &p, 0);
  if (rc == CURLUE_OK) curl_free(p);
  return rc == CURLUE_OK;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, std::string_view sPrefix) {
  if (s.size() < sPrefix.size()) return false;
  for (std::size_t i = 0; i < sPrefix.size(); ++i)
    if (LowerAscii(s[i]) != LowerAscii(sPrefix[i])) return false;
  return true;
}

// X.509 verification results (OpenSSL's X509_V_ERR_* values).
constexpr long kUnableToGetIssuerCert = 2;
constexpr long kCertNotYetValid = 9;
constexpr long kCertHasExpired = 10;
constexpr long kDepthZeroSelfSignedCert = 18;
constexpr long kSelfSignedCertInChain = 19;
constexpr long kUnableToGetIssuerCertLocally = 20;
constexpr long kUnableToVerifyLeafSignature = 21;
constexpr long kCertRevoked = 23;
constexpr long kHostnameMismatch = 62;
constexpr long kIpAddressMismatch = 64;

std::string CertificateFailureText(long lVerifyResult, const std::string& sCurlText) {
  switch (lVerifyResult) {
    case kCertHasExpired: return "certificate has expired";
    case kCertNotYetValid: return "certificate is not valid yet";
    case kUnableToGetIssuerCert:
    case kDepthZeroSelfSignedCert:
    case kSelfSignedCertInChain:
    case kUnableToGetIssuerCertLocally:
    case kUnableToVerifyLeafSignature: return "certificate issuer is unknown";
    case kCertRevoked: return "certificate has been revoked";
    case kHostnameMismatch:
    case kIpAddressMismatch: return "certificate is for another host name";
    default: break;
  }
  // libcurl checks the host name itself once the chain has verified, and
  // says so only in its text.
  if (sCurlText.find("target host name") != std::string::npos) return "certificate is for another host name";
  return "certificate was refused (verification result " + std::to_string(lVerifyResult) + ")";
}

bool IsType(std::string_view sType, std::string_view sName) {
  return sType.size() == sName.size() && StartsWithNoCase(sType, sName);
}

}  // namespace

std::string TlsFailureText(int iCurlCode, long lVerifyResult, const std::string& sCommand,
                           const std::string& sCurlText) {
  switch (iCurlCode) {
    case CURLE_PEER_FAILED_VERIFICATION: return CertificateFailureText(lVerifyResult, sCurlText);
    case CURLE_USE_SSL_FAILED:
      if (StartsWithNoCase(sCommand, "PBSZ") || StartsWithNoCase(sCommand, "PROT"))
        return "the server does not protect data connections";
      return "the server does not offer TLS";
    case CURLE_SSL_CACERT_BADFILE: return "the trusted certificate authorities cannot be read";
    case CURLE_SSL_CONNECT_ERROR: return "the TLS handshake failed";
    default: return {};
  }
}

std::optional<std::string> FtpUrlHost(const std::string& sHost) {
  if (sHost.empty()) return std::nullopt;
  std::string sUrlHost = sHost;
  if (sHost.find(':') != std::string::npos && sHost.front() != '[') sUrlHost = "[" + sHost + "]";

  // Let libcurl's own URL parser judge the host: it must come back as the
  // host of a URL that has no user, the port given and the root path.
  CurlUrlPtr pUrl(curl_url());
  if (!pUrl) return std::nullopt;
  const std::string sProbe = "ftp://" + sUrlHost + ":21/";
  if (curl_url_set(pUrl.get(), CURLUPART_URL, sProbe.c_str(), 0) != CURLUE_OK) return std::nullopt;
  if (HasUrlPart(pUrl.get(), CURLUPART_USER) || HasUrlPart(pUrl.get(), CURLUPART_PASSWORD) ||
      HasUrlPart(pUrl.get(), CURLUPART_QUERY) || HasUrlPart(pUrl.get(), CURLUPART_FRAGMENT))
    return std::nullopt;
  if (UrlPart(pUrl.get(), CURLUPART_PORT) != "21" || UrlPart(pUrl.get(), CURLUPART_PATH) != "/") return std::nullopt;
  std::string sParsedHost = UrlPart(pUrl.get(), CURLUPART_HOST);
  if (sParsedHost.empty()) return std::nullopt;
  // A link-local address keeps the interface it was given with.
  const std::string sZone = UrlPart(pUrl.get(), CURLUPART_ZONEID);
  if (!sZone.empty() && sParsedHost.back() == ']') sParsedHost.insert(sParsedHost.size() - 1, "%25" + sZone);
  return sParsedHost;
}

namespace {

void AppendEncoded(std::string& sUrl, std::string_view sPath) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char cByte : sPath) {
    const unsigned char c = static_cast<unsigned char>(cByte);
    if (c == '/' || IsUnreserved(c)) {
      sUrl += static_cast<char>(c);
    } else {
      sUrl += '%';
      sUrl += kHex[c >> 4];
      sUrl += kHex[c & 0x0F];
    }
  }
}

}  // namespace

std::string SftpUrlPath(const std::string& sPath) {
  std::string_view s = sPath;
  std::string sUrl;
  if (s.rfind("//", 0) == 0) {
    s.remove_prefix(1);
  } else {
    sUrl = "/~";
    if (s.empty() || s.front() != '/') sUrl += '/';
  }
  AppendEncoded(sUrl, s);
  return sUrl;
}

std::string FtpUrlPath(const std::string& sPath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string sUrl = "/";
  std::size_t i = 0;
  if (!sPath.empty() && sPath[0] == '/') {
    // The root keeps a plain "/" after the encoded one, so that it is a
    // folder and never a name; a name directly in the root gets the same,
    // so that libcurl sees the same folder as for the root itself and a
    // transfer after one there changes folder no more.
    sUrl += sPath.find('/', 1) == std::string::npos ? "%2F/" : "%2F";
    i = 1;
  }
  for (; i < sPath.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(sPath[i]);
    if (c == '/' || IsUnreserved(c)) {
      sUrl += static_cast<char>(c);
    } else {
      sUrl += '%';
      sUrl += kHex[c >> 4];
      sUrl += kHex[c & 0x0F];
    }
  }
  return sUrl;
}

void FtpListing::Add(std::string_view sName, Kind eKind, int64_t lSize, int64_t lModified) {
  const bool bUnsafe = sName.find_first_of(std::string_view("/\r\n\0", 4)) != std::string_view::npos;
  const bool bDots = eKind != Kind::kFolder && (sName == "." || sName == "..");
  if (bUnsafe || bDots) {
    ++lLeftOut;
    return;
  }
  aEntries.push_back({std::string(sName), eKind, lSize, lModified});
}

void FtpLineParser::Reset() {
  m_sPartial.clear();
  m_lBytes = 0;
  m_lLines = 0;
  m_sOverflow.clear();
}

bool FtpLineParser::Line(std::string_view sLine) {
  if (++m_lLines > kFtpMaxListingLines) {
    m_sOverflow = "the listing has more than " + std::to_string(kFtpMaxListingLines) + " lines";
    return false;
  }
  ParseLine(sLine);
  return true;
}

bool FtpLineParser::Feed(const char* p, std::size_t n) {
  if (!m_sOverflow.empty()) return false;
  if (n > kFtpMaxListingBytes - m_lBytes) {
    m_sOverflow = "the listing is longer than " + std::to_string(kFtpMaxListingBytes) + " bytes";
    return false;
  }
  m_lBytes += n;
  std::string_view sChunk(p, n);
  for (;;) {
    const std::size_t lEnd = sChunk.find('\n');
    const std::size_t lLength = m_sPartial.size() + std::min(lEnd, sChunk.size());
    if (lLength > kFtpMaxListingLine) {
      m_sOverflow = "a line of the listing is longer than " + std::to_string(kFtpMaxListingLine) + " bytes";
      m_sPartial.clear();
      return false;
    }
    if (lEnd == std::string_view::npos) {
      m_sPartial.append(sChunk);
      return true;
    }
    bool bGoOn;
    if (m_sPartial.empty()) {
      bGoOn = Line(sChunk.substr(0, lEnd));
    } else {
      m_sPartial.append(sChunk.substr(0, lEnd));
      bGoOn = Line(m_sPartial);
      m_sPartial.clear();
    }
    if (!bGoOn) return false;
    sChunk.remove_prefix(lEnd + 1);
  }
}

void FtpLineParser::Finish() {
  if (!m_sPartial.empty() && m_sOverflow.empty()) Line(m_sPartial);
  m_sPartial.clear();
}

void MlsdParser::ParseLine(std::string_view sLine) {
  if (!sLine.empty() && sLine.back() == '\r') sLine.remove_suffix(1);
  // The facts end at the first space; the name is everything after it, as
  // it stands, spaces included.
  const std::size_t lSpace = sLine.find(' ');
  if (lSpace == std::string_view::npos) return;
  std::string_view sFacts = sLine.substr(0, lSpace);
  std::string_view sName = sLine.substr(lSpace + 1);
  if (sName.empty()) return;

  std::string_view sType;
  int64_t lSize = -1, lModified = -1;
  while (!sFacts.empty()) {
    const std::size_t lSemi = sFacts.find(';');
    std::string_view sFact = sFacts.substr(0, lSemi);
    if (StartsWithNoCase(sFact, "type=")) sType = sFact.substr(5);
    else if (StartsWithNoCase(sFact, "size=")) lSize = FtpFacts_Size(sFact.substr(5));
    else if (StartsWithNoCase(sFact, "modify=")) lModified = FtpFacts_MlsdTime(sFact.substr(7));
    if (lSemi == std::string_view::npos) break;
    sFacts.remove_prefix(lSemi + 1);
  }
  using Kind = FtpListing::Kind;
  if (IsType(sType, "cdir")) {
    m_listing.Add(".", Kind::kFolder);
  } else if (IsType(sType, "pdir")) {
    m_listing.Add("..", Kind::kFolder);
  } else if (IsType(sType, "dir")) {
    m_listing.Add(sName, Kind::kFolder);
  } else if (StartsWithNoCase(sType, "OS.unix=slink") || IsType(sType, "OS.unix=symlink")) {
    // ProFTPD appends ":target" to slink.
    m_listing.Add(sName, Kind::kLink, -1, lModified);
  } else {
    m_listing.Add(sName, Kind::kFile, lSize, lModified);
  }
}

namespace {

// What one listing line says of its entry.
struct ListedEntry {
  std::string_view sName;
  FtpListing::Kind eKind;
  int64_t lSize = -1;
  int64_t lModified = -1;
};

// One "ls -l" line: mode, links, owner, group, size, month, day, time or
// year (eight fields), then one space and the name as it stands. False for
// a line that is not one, and for the current and the parent folder.
bool ReadUnixLine(std::string_view sLine, int64_t lNow, ListedEntry& entry) {
  if (sLine.empty()) return false;
  std::size_t lPos = 0;
  std::string_view asField[8];
  for (std::string_view& sField : asField) {
    const std::size_t lStart = sLine.find_first_not_of(' ', lPos);
    if (lStart == std::string_view::npos) return false;
    lPos = sLine.find(' ', lStart);
    if (lPos == std::string_view::npos) return false;
    sField = sLine.substr(lStart, lPos - lStart);
  }
  std::string_view& sName = entry.sName;
  sName = sLine.substr(lPos + 1);
  const char cType = sLine.front();
  if (cType == 'l') {
    const std::size_t lArrow = sName.find(" -> ");
    if (lArrow != std::string_view::npos) sName = sName.substr(0, lArrow);
  }
  if (sName.empty() || sName == "." || sName == "..") return false;
  entry.eKind = cType == 'd'   ? FtpListing::Kind::kFolder
                : cType == 'l' ? FtpListing::Kind::kLink
                               : FtpListing::Kind::kFile;
  if (entry.eKind == FtpListing::Kind::kFile) entry.lSize = FtpFacts_Size(asField[4]);
  entry.lModified = FtpFacts_UnixTime(asField[5], asField[6], asField[7], lNow);
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One line of a Windows server: date, time, "<DIR>" or the size, then the
// name after the spaces.
bool ReadWindowsLine(std::string_view sLine, ListedEntry& entry) {
  std::string_view asField[3];
  std::size_t lPos = 0;
  for (std::string_view& sField : asField) {
    const std::size_t lStart = sLine.find_first_not_of(' ', lPos);
    if (lStart == std::string_view::npos) return false;
    lPos = sLine.find(' ', lStart);
    if (lPos == std::string_view::npos) return false;
    sField = sLine.substr(lStart, lPos - lStart);
  }
  const auto fnOnly = [](std::string_view s, std::string_view sAlso) {
    return !s.empty() && std::all_of(s.begin(), s.end(),
                                     [&](char c) { return IsDigit(c) || sAlso.find(c) != std::string_view::npos; });
  };
  if (!fnOnly(asField[0], "-/.") || !fnOnly(asField[1], ":APMapm")) return false;
  const bool bFolder = asField[2] == "<DIR>";
  if (!bFolder && !fnOnly(asField[2], ",.")) return false;
  const std::size_t lName = sLine.find_first_not_of(' ', lPos);
  if (lName == std::string_view::npos) return false;
  entry.sName = sLine.substr(lName);
  if (entry.sName == "." || entry.sName == "..") return false;
  entry.eKind = bFolder ? FtpListing::Kind::kFolder : FtpListing::Kind::kFile;
  if (!bFolder) entry.lSize = FtpFacts_Size(asField[2]);
  entry.lModified = FtpFacts_WindowsTime(asField[0], asField[1]);
  return true;
}

}  // namespace

void FtpListParser::ParseLine(std::string_view sLine) {
  if (!sLine.empty() && sLine.back() == '\r') sLine.remove_suffix(1);
  if (m_lNow < 0) m_lNow = static_cast<int64_t>(std::time(nullptr));
  ListedEntry entry;
  const bool bRead = !sLine.empty() && IsDigit(sLine.front()) ? ReadWindowsLine(sLine, entry)
                                                              : ReadUnixLine(sLine, m_lNow, entry);
  if (bRead) m_listing.Add(entry.sName, entry.eKind, entry.lSize, entry.lModified);
}
