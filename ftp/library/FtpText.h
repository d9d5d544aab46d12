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

// The SFTP URL path for a remote path: it starts at the login folder
// ("/~/"), unless it starts with "//", which names the server's root.
std::string SftpUrlPath(const std::string& sPath);

// How a log line about the connection lHandle starts: "FTP connection 3: ".
inline std::string FtpConnectionText(int32_t lHandle) { return "FTP connection " + std::to_string(lHandle) + ": "; }

// How a log line names a request: "request <id>", or "request" when the
// caller gave it no ID.
inline std::string FtpRequestText(const std::string& sRequestId) {
  return sRequestId.empty() ? std::string("request") : "request " + sRequestId;
}

// Why a TLS connection failed, in words a user can act on, or "" when the
// failure had nothing to do with TLS. iCurlCode is the transfer's libcurl
// result, lVerifyResult the X.509 verification result of its handshake,
// sCommand the last command sent and sCurlText libcurl's error text.
std::string TlsFailureText(int iCurlCode, long lVerifyResult, const std::string& sCommand,
                           const std::string& sCurlText);

// The bounds of one listing, whatever the server sends. A name is at most
// 255 bytes on the usual file systems and an MLSD line with every fact
// stays below 1 KiB, so a line of 64 KiB is no listing line; a folder of
// 200,000 entries lists in about 20 MiB of MLSD text and as many entries,
// well inside the whole listing's bounds. Together they keep a listing's
// memory below about 150 MiB (the text, the names and their bookkeeping).
constexpr std::size_t kFtpMaxListingLine = 64 * 1024;
constexpr std::size_t kFtpMaxListingLines = 1000000;
constexpr std::size_t kFtpMaxListingBytes = 64 * 1024 * 1024;

// The entries of one listing, in the server's order. A link's kind is
// known only once its target has been looked at.
struct FtpListing {
  enum class Kind { kFolder, kFile, kLink };
  struct Entry {
    std::string sName;
    Kind eKind;
    // Size in bytes and time of the last change (seconds since 1970 UTC),
    // -1 where the listing does not say.
    int64_t lSize = -1;
    int64_t lModified = -1;
  };
  std::vector<Entry> aEntries;
  // Entries left out because their names cannot stand for the entry: a
  // name holding "/", a line break or NUL (a path, or a name that a caller
  // would read as another), or a file or link named "." or "..".
  std::size_t lLeftOut = 0;

  // Adds the entry, or counts it as left out.
  void Add(std::string_view sName, Kind eKind, int64_t lSize = -1, int64_t lModified = -1);
};

// A listing read line by line as it arrives in pieces; the last line may
// lack its line end. Names are the bytes between the fields, NUL bytes
// included. A listing beyond the bounds above stops being read.
class FtpLineParser {
 public:
  explicit FtpLineParser(FtpListing& listing) : m_listing(listing) {}
  virtual ~FtpLineParser() = default;
  // False once the listing has gone beyond a bound; nothing more is read.
  bool Feed(const char* p, std::size_t n);
  void Finish();
  // Forgets a line begun and the bounds counted, for a reply that starts
  // over.
  void Reset();
  // Which bound the listing went beyond, in words ("a line longer than
  // 65536 bytes"); empty while within them.
  const std::string& Overflow() const { return m_sOverflow; }

 protected:
  virtual void ParseLine(std::string_view sLine) = 0;
  FtpListing& m_listing;

 private:
  bool Line(std::string_view sLine);
  std::string m_sPartial;
  std::size_t m_lBytes = 0;
  std::size_t m_lLines = 0;
  std::string m_sOverflow;
};

// Reads a LIST reply or an SFTP folder listing as libcurl hands it over:
// one "ls -l" line per entry ("drwxr-xr-x 2 user group 4096 Dec  8 10:00
// name", a link's target after " -> "), or the lines of Windows FTP servers
// ("12-08-26  10:00AM  <DIR>  name", a size instead of <DIR> for a file).
// Lines of neither kind ("total 12") are passed over, and so are the current
// and the parent folder. The name is everything after the one space that
// follows the time, leading spaces included; a Windows line's name starts
// after the spaces that follow the size. A date without a year ("Dec  8
// 10:00") lies in the last twelve months.
class FtpListParser : public FtpLineParser {
 public:
  using FtpLineParser::FtpLineParser;
  // The time that a date without a year is read against (seconds since
  // 1970 UTC); the clock's time unless set.
  void SetNow(int64_t lNow) { m_lNow = lNow; }

 private:
  void ParseLine(std::string_view sLine) override;
  int64_t m_lNow = -1;
};

// Reads an MLSD reply: one entry per line, facts, one space, the name. The
// current and the parent folder come out as "." and ".."; a link (type
// OS.unix=slink or OS.unix=symlink) comes out as a link. The facts size=
// and modify= (YYYYMMDDHHMMSS, UTC) give a file's size and time.
class MlsdParser : public FtpLineParser {
 public:
  using FtpLineParser::FtpLineParser;

 private:
  void ParseLine(std::string_view sLine) override;
};
