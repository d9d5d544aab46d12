#include "cSEC.h"

#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "AppChannel.h"
#include "OrvError.h"

namespace {

constexpr long kVersion = 1000;
constexpr std::size_t kMinKeyLength = 6;
constexpr std::size_t kPaddedBelow = 20;
constexpr unsigned kShiftStep = 13;
constexpr std::int64_t kLongMax = std::numeric_limits<std::int32_t>::max();

// Windows-1252 bytes; they are part of the format of every enciphered file.
const std::string kKeyCombiner = "\xD8" "5w?j#Rm&" "\xC4" "t+Kv[" "\xA7" "=y:N";
const std::string kPadding = "Q%}~h" "\xE8\xFC" "!+ZXM8~&& ,_D";

const char* const kShortKeyText = "Der Schl\xC3\xBC" "ssel muss mindestens 6 Zeichen lang sein!";
const char* const kShortKeyCaption = "SEC Fehlerhinweis";

unsigned Code(char c) { return static_cast<unsigned char>(c); }
char FromCode(unsigned u) { return static_cast<char>(static_cast<unsigned char>(u & 0xFF)); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::int64_t SumOfCodes(const std::string& s) {
  std::int64_t lSum = 0;
  for (char c : s) lSum += Code(c);
  return lSum;
}

// The value of the decimal digits s[lFrom, lTo), or -1 when it does not fit
// 32 bits signed.
std::int64_t DigitsValue(const std::string& s, std::size_t lFrom, std::size_t lTo) {
  std::int64_t lValue = 0;
  for (std::size_t i = lFrom; i < lTo; ++i) {
    lValue = lValue * 10 + (s[i] - '0');
    if (lValue > kLongMax) return -1;
  }
  return lValue;
}

// The free places 1..n of the permutation. Scramble and Unscramble take a
// free place and then look for the next free one from some place on,
// wrapping from n to 1; a plain linear probe makes that quadratic for long
// texts, so free places are found through "next free" links with path
// halving instead. The places visited are exactly those of the linear probe.
class FreePlaces {
 public:
  explicit FreePlaces(std::size_t n) : m_n(n), m_aNext(n + 2) {
    std::iota(m_aNext.begin(), m_aNext.end(), std::size_t{0});
  }

  void Take(std::size_t p) { m_aNext[p] = p + 1; }

  // The first free place at p or after it, wrapping from n to 1. At least
  // one place must be free.
  std::size_t NextFree(std::size_t p) {
    std::size_t q = Find(p);
    return q <= m_n ? q : Find(1);
  }

 private:
  // The first free place at p or after it, n + 1 when there is none.
  std::size_t Find(std::size_t p) {
    while (m_aNext[p] != p) {
      m_aNext[p] = m_aNext[m_aNext[p]];
      p = m_aNext[p];
    }
    return p;
  }

  std::size_t m_n;
  std::vector<std::size_t> m_aNext;  // place n + 1 is never taken
};

// Place p + iCode, counted on from 1 to n and round again.
std::size_t Advance(std::size_t p, unsigned iCode, std::size_t n) { return (p - 1 + iCode) % n + 1; }

}  // namespace

long cSEC::GetVersion() const { return kVersion; }

bool cSEC::SetKey(const std::string& s) {
  if (s.size() < kMinKeyLength) {
    m_sKey.clear();
    return false;
  }
  m_sKey = s;
  XorWithKey(m_sKey, kKeyCombiner);
  return true;
}

bool cSEC::IsKeyValid() const { return m_sKey.size() >= kMinKeyLength; }

bool cSEC::Encode(std::string& s) const {
  if (!IsKeyValid()) return false;
  std::string sWork = s;
  PackText(sWork);
  ShiftCodes(sWork);
  sWork = Scramble(sWork);
  XorWithKey(sWork, m_sKey);
  s = std::move(sWork);
  return true;
}

bool cSEC::Decode(std::string& s) const {
  if (!IsKeyValid()) return false;
  XorWithKey(s, m_sKey);
  s = Unscramble(s);
  UnshiftCodes(s);
  return UnpackText(s);
}

void cSEC::PackText(std::string& s) {
  if (s.size() > static_cast<std::size_t>(kLongMax))
    throw OrvError::FromNumber(OrvError::kOverflow, "cSEC.PackText");
  const std::string sLength = std::to_string(s.size());
  const std::string sCheckSum = std::to_string(GetCheckSum(s));
  std::string sFramed;
  sFramed.reserve(sLength.size() + 1 + s.size() + kPadding.size() + 1 + sCheckSum.size());
  sFramed += sLength;
  sFramed += '|';
  sFramed += s;
  if (s.size() < kPaddedBelow) sFramed += kPadding;
  sFramed += '*';
  sFramed += sCheckSum;
  s = std::move(sFramed);
}

bool cSEC::UnpackText(std::string& s) {
  auto reject = [&s] {
    s.clear();
    return false;
  };
  if (s.empty()) return false;
  if (!IsDigit(s.front())) return reject();

  std::size_t lLeading = 0;
  while (lLeading < s.size() && IsDigit(s[lLeading])) ++lLeading;
  const std::int64_t lLength = DigitsValue(s, 0, lLeading);
  const std::size_t p = s.find('|');

  std::size_t lTrailing = s.size();
  while (lTrailing > 0 && IsDigit(s[lTrailing - 1])) --lTrailing;
  const std::int64_t lStoredSum = DigitsValue(s, lTrailing, s.size());

  // The checksum alone lets about one damaged text in a hundred through (a
  // leading "0" and a non-digit at the end pass as an empty text), so the
  // frame must also be exactly as PackText writes it: length, "|", the
  // text, the padding for short texts, "*" and the checksum.
  if (lLength < 0 || lStoredSum < 0 || p != lLeading || lTrailing == s.size()) return reject();
  const std::size_t lStart = p + 1;
  if (static_cast<std::uint64_t>(lLength) > s.size() - lStart) return reject();
  const std::size_t lEnd = lStart + static_cast<std::size_t>(lLength);
  const std::string sBetween = (static_cast<std::size_t>(lLength) < kPaddedBelow ? kPadding : "") + "*";
  if (lTrailing < lEnd || s.compare(lEnd, lTrailing - lEnd, sBetween) != 0) return reject();

  std::string sCandidate = s.substr(lStart, static_cast<std::size_t>(lLength));
  if (SumOfCodes(sCandidate) != lStoredSum) return reject();
  s = std::move(sCandidate);
  return true;
}

void cSEC::ShiftCodes(std::string& s) {
  unsigned k = 0;
  for (char& c : s) {
    k += kShiftStep;
    if (k > 256) k -= 256;
    c = FromCode(Code(c) + k);
  }
}

void cSEC::UnshiftCodes(std::string& s) {
  unsigned k = 0;
  for (char& c : s) {
    k += kShiftStep;
    if (k > 256) k -= 256;
    c = FromCode(Code(c) + 512 - k);
  }
}

std::string cSEC::Scramble(const std::string& s) {
  const std::size_t n = s.size();
  std::string sResult(n, '\0');
  if (n == 0) return sResult;
  FreePlaces places(n);
  std::size_t p = 1;
  for (std::size_t r = n;; --r) {
    const char c = s[r - 1];
    sResult[p - 1] = c;
    places.Take(p);
    if (r == 1) break;
    p = places.NextFree(Advance(p, Code(c), n));
  }
  return sResult;
}

std::string cSEC::Unscramble(const std::string& s) {
  const std::size_t n = s.size();
  std::string sResult(n, '\0');
  if (n == 0) return sResult;
  FreePlaces places(n);
  std::size_t p = 1;
  for (std::size_t q = n;; ) {
    const char c = s[p - 1];
    sResult[q - 1] = c;
    --q;
    places.Take(p);
    if (q == 0) break;
    p = places.NextFree(Advance(p, Code(c), n));
  }
  return sResult;
}

void cSEC::XorWithKey(std::string& s, const std::string& sKey) {
  if (sKey.size() < kMinKeyLength) {
    if (AppChannel* pApp = OrvApp()) pApp->MsgBox(kShortKeyText, kShortKeyCaption);
    return;
  }
  std::size_t k = 0;
  for (char& c : s) {
    c = FromCode(Code(c) ^ Code(sKey[k]));
    if (++k == sKey.size()) k = 0;
  }
}

long cSEC::GetCheckSum(const std::string& s) {
  const std::int64_t lSum = SumOfCodes(s);
  if (lSum > kLongMax) throw OrvError::FromNumber(OrvError::kOverflow, "cSEC.GetCheckSum");
  return static_cast<long>(lSum);
}
