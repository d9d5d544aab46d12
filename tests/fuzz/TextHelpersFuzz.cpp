// The support library's text helpers on any text: fields taken apart with
// separators of 0 to 3 characters and any index, escape sequences decoded,
// and numbers read from text, where a value beyond 32 bits raises error 6
// and nothing else happens.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "LibOrv.h"
#include "OrvError.h"
#include "RecordingApp.h"

namespace {

using orvfuzz::FuzzInput;

constexpr long kMaxDelimiters = 998;

// The fields of s between separators; a separator of two characters means
// its first and its second character in turn.
std::vector<std::string> Fields(const std::string& s, const std::string& sSeparator) {
  std::vector<std::string> asDelim = {sSeparator};
  if (sSeparator.size() == 2) asDelim = {sSeparator.substr(0, 1), sSeparator.substr(1, 1)};
  std::vector<std::string> fields;
  std::size_t p = 0;
  std::size_t iWhich = 0;
  for (;;) {
    const std::string& sDelim = asDelim[iWhich];
    const std::size_t q = s.find(sDelim, p);
    if (q == std::string::npos) break;
    fields.push_back(s.substr(p, q - p));
    p = q + sDelim.size();
    iWhich = (iWhich + 1) % asDelim.size();
  }
  fields.push_back(s.substr(p));
  return fields;
}

// Runs Extract; an error 9 comes back as the text "<9>".
std::string Extract(const std::string& s, const std::string& sSeparator, long lIndex) {
  try {
    return LibOrv_Extract(s, sSeparator, lIndex);
  } catch (const OrvError& e) {
    ORV_FUZZ_CHECK(e.Number() == OrvError::kSubscriptOutOfRange);
    return "<9>";
  }
}

void CheckExtract(FuzzInput& in) {
  RecordingApp app;
  const std::string sSeparator = in.Take(in.Byte() % 4);
  // Mostly indexes around the field count, now and then the extremes.
  const long kExtremes[] = {std::numeric_limits<long>::min(), std::numeric_limits<long>::min() + 1,
                            std::numeric_limits<long>::max(), std::numeric_limits<long>::max() - 1};
  long lIndex = in.Between(-1100, 1104);
  if (lIndex > 1100) lIndex = kExtremes[lIndex - 1101];
  const std::string s = in.Rest();
  const std::string sField = Extract(s, sSeparator, lIndex);

  // An empty separator is found everywhere in a text, which is too many.
  const std::vector<std::string> fields = sSeparator.empty() ? std::vector<std::string>{""} : Fields(s, sSeparator);
  const long c = sSeparator.empty() ? (s.empty() ? 0 : kMaxDelimiters + 1) : static_cast<long>(fields.size()) - 1;
  if (c > kMaxDelimiters) {
    ORV_FUZZ_CHECK(sField.empty());
    ORV_FUZZ_CHECK(app.messages.size() == 1 && app.messages[0].m == 1 && app.messages[0].sModule == "LibOrv_Extract");
    return;
  }
  ORV_FUZZ_CHECK(app.messages.empty());
  const long k = lIndex < 0 ? c + lIndex + 1 : lIndex;  // counted from the end
  if (k > c) ORV_FUZZ_CHECK(sField.empty());
  else if (k < 0) ORV_FUZZ_CHECK(sField == "<9>");
  else ORV_FUZZ_CHECK(sField == fields[static_cast<std::size_t>(k)]);
}

void CheckDecodeEscapes(const std::string& s) {
  std::string sExpected;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const std::string sFrom = "\\rntbe";
      const std::string sTo = "\\\r\n\t\b\x1b";
      const std::size_t k = sFrom.find(s[i + 1]);
      if (k != std::string::npos) {
        sExpected += sTo[k];
        ++i;
        continue;
      }
    }
    sExpected += s[i];
  }
  ORV_FUZZ_CHECK(LibOrv_DecodeEscapes(s) == sExpected);
}

bool AllOf(const std::string& s, std::size_t lFrom, const char* sChars) {
  return lFrom < s.size() && s.find_first_not_of(sChars, lFrom) == std::string::npos;
}

// [+-]digits, at most 18 digits.
bool IsPlainDecimal(const std::string& s) {
  const std::size_t lFrom = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
  return s.size() - lFrom <= 18 && AllOf(s, lFrom, "0123456789");
}

// &H and 1 to 8 hexadecimal digits.
bool IsPlainHex(const std::string& s) {
  return s.size() >= 3 && s.size() <= 10 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h') &&
         AllOf(s, 2, "0123456789abcdefABCDEF");
}

// String2Long's value, or whether it raised error 6; any other error escapes.
struct Reading {
  bool bOverflow = false;
  long lValue = 0;
};

Reading String2Long(const std::string& s) {
  Reading r;
  try {
    r.lValue = LibOrv_String2Long(s);
  } catch (const OrvError& e) {
    ORV_FUZZ_CHECK(e.Number() == OrvError::kOverflow);
    r.bOverflow = true;
  }
  return r;
}

void CheckNumbers(const std::string& s) {
  const Reading r = String2Long(s);
  const double dVal = LibOrv_Val(s);
  const bool bNumeric = LibOrv_IsNumeric(s);
  const double dRounded = std::nearbyint(dVal);
  const bool bFits = dRounded >= -2147483648.0 && dRounded <= 2147483647.0;
  if (!r.bOverflow) {
    ORV_FUZZ_CHECK(r.lValue >= -2147483648L && r.lValue <= 2147483647L);
    ORV_FUZZ_CHECK(static_cast<double>(r.lValue) == dRounded);
  }
  if (bNumeric) {
    ORV_FUZZ_CHECK(std::isfinite(dVal));
    ORV_FUZZ_CHECK(r.bOverflow == !bFits);
  }

  // Plain decimal and hexadecimal numbers against the C library's reading.
  if (IsPlainDecimal(s)) {
    const long long ll = std::strtoll(s.c_str(), nullptr, 10);
    ORV_FUZZ_CHECK(bNumeric);
    ORV_FUZZ_CHECK(r.bOverflow == (ll < -2147483648LL || ll > 2147483647LL));
    if (!r.bOverflow) ORV_FUZZ_CHECK(r.lValue == ll);
  } else if (IsPlainHex(s)) {
    // Up to 16 bits the digits are a 16-bit value, beyond a 32-bit one.
    const unsigned long ul = std::strtoul(s.c_str() + 2, nullptr, 16);
    const long lExpected = ul <= 0xFFFF ? static_cast<int16_t>(ul) : static_cast<int32_t>(static_cast<uint32_t>(ul));
    ORV_FUZZ_CHECK(bNumeric && !r.bOverflow && r.lValue == lExpected);
  }
}

}  // namespace

void orvfuzz::TextHelpers(const uint8_t* pData, std::size_t lSize) {
  FuzzInput in(pData, lSize);
  switch (in.Byte() % 3) {
    case 0: CheckExtract(in); break;
    case 1: CheckDecodeEscapes(in.Rest()); break;
    default: CheckNumbers(in.Rest()); break;
  }
}
