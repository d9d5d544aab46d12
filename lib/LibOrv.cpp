#include "LibOrv.h"

#include <fcntl.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <new>

#include "AppChannel.h"
#include "LocalFileSource.h"
#include "OrvError.h"
#include "UniqueFd.h"

std::string LibOrv_CutAtNull(const std::string& s) {
  std::size_t p = s.find('\0');
  return p == std::string::npos ? s : s.substr(0, p);
}

std::string LibOrv_DecodeEscapes(std::string s) {
  std::size_t p = s.find('\\');
  while (p != std::string::npos) {
    if (p + 1 < s.size()) {
      char cReplacement = 0;
      switch (s[p + 1]) {
        case '\\': cReplacement = '\\'; break;
        case 'r': cReplacement = '\r'; break;
        case 'n': cReplacement = '\n'; break;
        case 't': cReplacement = '\t'; break;
        case 'b': cReplacement = '\b'; break;
        case 'e': cReplacement = '\x1b'; break;
        default: break;
      }
      if (cReplacement != 0) s.replace(p, 2, 1, cReplacement);
    }
    // Resume behind the replacement, so a decoded backslash is not read again.
    p = s.find('\\', p + 1);
  }
  return s;
}

bool LibOrv_HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

namespace {

// InStr of the runtime: 1-based position of sFind in s from lStart, 0 when
// absent; an empty sFind is found at lStart while lStart lies inside s.
long InStr(long lStart, const std::string& s, const std::string& sFind) {
  if (lStart > static_cast<long>(s.size())) return 0;
  std::size_t p = s.find(sFind, static_cast<std::size_t>(lStart - 1));
  return p == std::string::npos ? 0 : static_cast<long>(p) + 1;
}

}  // namespace

std::string LibOrv_Extract(const std::string& s, const std::string& sSeparator, long lIndex) {
  constexpr int kRows = 1001;
  constexpr int kMaxDelimiters = 998;
  const bool bPair = sSeparator.size() == 2;
  const std::string asDelim[2] = {bPair ? sSeparator.substr(0, 1) : sSeparator,
                                  bPair ? sSeparator.substr(1, 1) : sSeparator};

  std::array<long, kRows> alEnd{};    // last position of field i
  std::array<long, kRows> alStart{};  // first position of field i
  alStart[0] = 1;
  int16_t c = 0;
  int iWhich = 0;
  long lPos = 1;
  for (;;) {
    const std::string& sDelim = asDelim[iWhich];
    long p = InStr(lPos, s, sDelim);
    if (p == 0) break;
    ++c;
    if (c > kMaxDelimiters) {
      if (AppChannel* pApp = OrvApp())
        pApp->Msg(1, "LibOrv_Extract",
                  "\xC3\x9C"
                  "berlauf: Mehr als 1000 Eintr\xC3\xA4ge k\xC3\xB6nnen nicht bearbeitet werden!");
      return "";
    }
    alEnd[c - 1] = p - 1;
    alStart[c] = p + static_cast<long>(sDelim.size());
    if (bPair) iWhich = 1 - iWhich;
    lPos = alStart[c];
  }
  const long lLen = static_cast<long>(s.size());
  if (alStart[c] <= lLen) alEnd[c] = lLen;

  if (lIndex < 0) lIndex = c + lIndex + 1;
  if (lIndex > c) return "";
  if (lIndex < 0) throw OrvError::FromNumber(OrvError::kSubscriptOutOfRange, "LibOrv_Extract");
  long lFieldLen = alEnd[lIndex] - alStart[lIndex] + 1;
  if (lFieldLen <= 0) return "";
  return s.substr(static_cast<std::size_t>(alStart[lIndex] - 1), static_cast<std::size_t>(lFieldLen));
}

void LibOrv_ReadFileInto(std::string& sData, const std::string& sFileName) {
  sData = LocalFileSource::Open(sFileName, std::numeric_limits<std::size_t>::max()).TakeHead();
}

std::string LibOrv_ReadFile(const std::string& sFileName) {
  std::string s;
  LibOrv_ReadFileInto(s, sFileName);
  return s;
}

bool LibOrv_ReadFileUpTo(std::string& sData, const std::string& sFileName, std::size_t lMaxSize) {
  sData.clear();
  try {
    LocalFileSource oFile = LocalFileSource::Open(sFileName, lMaxSize);
    if (!oFile.Whole()) return false;
    sData = oFile.TakeHead();
    return true;
  } catch (const OrvError& e) {
    if (e.Number() == OrvError::kBadFileMode) return false;
    throw;
  }
}

void LibOrv_WriteFile(const std::string& sData, const std::string& sFileName, bool bPrivate) {
  static const char* kSource = "LibOrv_WriteFile";
  mode_t mode = 0;
  struct stat st {};
  if (::stat(sFileName.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw OrvError::FromNumber(OrvError::kPathFileAccess, kSource);
    // A write-protected file stays as it is, also for root.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      throw OrvError::FromNumber(OrvError::kPermissionDenied, kSource);
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (bPrivate) mode = 0600;

  // Write beside the target and rename over it, so a failed write leaves the
  // old file untouched.
  std::string sTemp = sFileName + ".XXXXXX";
  UniqueFd fd(::mkstemp(sTemp.data()));
  if (!fd) throw OrvError::FromErrno(errno, sFileName, kSource);
  auto fail = [&](int iErrno) {
    ::unlink(sTemp.c_str());
    return OrvError::FromErrno(iErrno, sFileName, kSource);
  };
  std::size_t lDone = 0;
  while (lDone < sData.size()) {
    ssize_t n = ::write(fd.Get(), sData.data() + lDone, sData.size() - lDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    lDone += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd.Get(), mode) != 0) throw fail(errno);
  if (::fsync(fd.Get()) != 0) throw fail(errno);
  if (fd.Close() != 0) throw fail(errno);
  if (::rename(sTemp.c_str(), sFileName.c_str()) != 0) throw fail(errno);
}

std::string LibOrv_GetPath(const std::string& s) {
  std::size_t p = s.find_last_of("/\\");
  return p == std::string::npos ? std::string() : s.substr(0, p + 1);
}

std::string LibOrv_GetFileName(const std::string& s) { return s.substr(LibOrv_GetPath(s).size()); }

std::string LibOrv_GetRemoteFolder(const std::string& s) {
  std::size_t p = s.rfind('/');
  return p == std::string::npos ? std::string() : s.substr(0, p + 1);
}

std::string LibOrv_GetRemoteName(const std::string& s) { return s.substr(LibOrv_GetRemoteFolder(s).size()); }

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The runtime's numbers have "." as decimal point whatever the user's
// locale; strtod alone follows LC_NUMERIC, which the window toolkit takes
// from the environment at start ("99,6" under a German locale).
double CDecimal(const std::string& sNum) {
  static const locale_t kC = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (kC == static_cast<locale_t>(0)) throw std::bad_alloc();
  return ::strtod_l(sNum.c_str(), nullptr, kC);
}

// Reads the runtime's number syntax from s. lUsed is how many bytes belong
// to the number (blanks inside included); bHexOct tells a &H/&O literal,
// whose value is given as raw bits in ullBits.
struct ValScan {
  double dValue = 0;
  bool bAnyDigit = false;
  bool bHexOct = false;
  bool bBitsOverflow = false;
  unsigned long long ullBits = 0;
  std::size_t lUsed = 0;
};

ValScan ScanVal(const std::string& s) {
  ValScan r;
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto skip = [&] {
    while (i < n && IsBlank(s[i])) ++i;
  };
  skip();
  if (i + 1 < n && s[i] == '&' && (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
    const unsigned base = (s[i + 1] == 'H' || s[i + 1] == 'h') ? 16 : 8;
    i += 2;
    r.bHexOct = true;
    for (;; ++i) {
      skip();
      if (i >= n) break;
      char c = s[i];
      unsigned d;
      if (c >= '0' && c <= '7') d = static_cast<unsigned>(c - '0');
      else if (base == 16 && c >= '8' && c <= '9') d = static_cast<unsigned>(c - '0');
      else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
      else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
      else break;
      r.bAnyDigit = true;
      if (r.ullBits > (0xFFFFFFFFull - d) / base) r.bBitsOverflow = true;
      else r.ullBits = r.ullBits * base + d;
    }
    r.lUsed = i;
    if (r.ullBits <= 0xFFFF) r.dValue = static_cast<int16_t>(r.ullBits);
    else r.dValue = static_cast<int32_t>(static_cast<uint32_t>(r.ullBits));
    return r;
  }

  std::string sNum;  // the number without blanks, for CDecimal
  if (i < n && (s[i] == '+' || s[i] == '-')) sNum += s[i++];
  auto digits = [&] {
    for (;; ++i) {
      skip();
      if (i >= n || s[i] < '0' || s[i] > '9') break;
      sNum += s[i];
      r.bAnyDigit = true;
    }
  };
  skip();
  digits();
  if (i < n && s[i] == '.') {
    sNum += s[i++];
    digits();
  }
  if (r.bAnyDigit && i < n && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    std::size_t lSave = i;
    std::string sExp = "e";
    ++i;
    skip();
    if (i < n && (s[i] == '+' || s[i] == '-')) sExp += s[i++];
    bool bExpDigit = false;
    for (;; ++i) {
      skip();
      if (i >= n || s[i] < '0' || s[i] > '9') break;
      sExp += s[i];
      bExpDigit = true;
    }
    if (bExpDigit) sNum += sExp;
    else i = lSave;
  }
  r.lUsed = i;
  if (r.bAnyDigit) r.dValue = CDecimal(sNum);
  return r;
}

}  // namespace

double LibOrv_Val(const std::string& s) { return ScanVal(s).dValue; }

bool LibOrv_IsNumeric(const std::string& s) {
  ValScan r = ScanVal(s);
  if (!r.bAnyDigit || r.bBitsOverflow) return false;
  std::size_t i = r.lUsed;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i == s.size() && std::isfinite(r.dValue);
}

long LibOrv_String2Long(const std::string& s) {
  ValScan r = ScanVal(s);
  if (r.bBitsOverflow) throw OrvError::FromNumber(OrvError::kOverflow, "LibOrv_String2Long");
  double d = std::nearbyint(r.dValue);  // the default rounding mode rounds halves to even
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) throw OrvError::FromNumber(OrvError::kOverflow, "LibOrv_String2Long");
  return static_cast<long>(d);
}

namespace LibOrvDetail {

namespace {
// Handles are never reused, so a stale handle can only find nothing.
struct ObjectTable {
  std::map<long, std::weak_ptr<void>> entries;
  long lLast = 0;
};

ObjectTable& Table() {
  static ObjectTable table;
  return table;
}

bool SameObject(const std::weak_ptr<void>& a, const std::shared_ptr<void>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}
}  // namespace

long RegisterObject(const std::shared_ptr<void>& o) {
  ObjectTable& table = Table();
  for (auto it = table.entries.begin(); it != table.entries.end();) {
    if (it->second.expired()) {
      it = table.entries.erase(it);
      continue;
    }
    if (SameObject(it->second, o)) return it->first;
    ++it;
  }
  long lHandle = ++table.lLast;
  table.entries.emplace(lHandle, o);
  return lHandle;
}

std::shared_ptr<void> LookUpObject(long lPtr) {
  ObjectTable& table = Table();
  auto it = table.entries.find(lPtr);
  if (it == table.entries.end()) return nullptr;
  return it->second.lock();
}

}  // namespace LibOrvDetail
