// The secret encoder on any key and any enciphered text: Decode never
// crashes, a failed Decode leaves an empty text, and what was enciphered
// under a key comes back unchanged under the same key.
#include <string>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "RecordingApp.h"
#include "cSEC.h"

namespace {

// How long PackText makes a text of n bytes with checksum lSum.
std::size_t FramedLength(std::size_t n, long lSum) {
  return std::to_string(n).size() + 1 + n + (n < 20 ? 20 : 0) + 1 + std::to_string(lSum).size();
}

long SumOfCodes(const std::string& s) {
  long lSum = 0;
  for (char c : s) lSum += static_cast<unsigned char>(c);
  return lSum;
}

// A text that Decode accepted must survive a round trip of its own.
void CheckDecoded(const cSEC& oSec, const std::string& sText) {
  std::string s = sText;
  ORV_FUZZ_CHECK(oSec.Encode(s));
  ORV_FUZZ_CHECK(oSec.Decode(s));
  ORV_FUZZ_CHECK(s == sText);
}

void DecodeAnything(const cSEC& oSec, const std::string& sCipher) {
  std::string s = sCipher;
  const bool bDecoded = oSec.Decode(s);
  if (!oSec.IsKeyValid()) {
    ORV_FUZZ_CHECK(!bDecoded && s == sCipher);
    return;
  }
  if (!bDecoded) {
    ORV_FUZZ_CHECK(s.empty());
    return;
  }
  CheckDecoded(oSec, s);
}

void RoundTrip(const cSEC& oSec, const std::string& sText, std::size_t lFlipAt, uint8_t bFlip) {
  std::string s = sText;
  if (!oSec.IsKeyValid()) {
    ORV_FUZZ_CHECK(!oSec.Encode(s) && s == sText);
    return;
  }
  ORV_FUZZ_CHECK(oSec.Encode(s));
  ORV_FUZZ_CHECK(s.size() == FramedLength(sText.size(), SumOfCodes(sText)));
  std::string sCipher = s;
  ORV_FUZZ_CHECK(oSec.Decode(s));
  ORV_FUZZ_CHECK(s == sText);

  // Damaged data: refused with an empty text, or read as some text that is
  // itself sound.
  if (bFlip == 0) return;
  sCipher[lFlipAt % sCipher.size()] ^= static_cast<char>(bFlip);
  DecodeAnything(oSec, sCipher);
}

}  // namespace

void orvfuzz::SecretEncoder(const uint8_t* pData, std::size_t lSize) {
  RecordingApp app;
  FuzzInput in(pData, lSize);
  cSEC oSec;
  const std::string sKey = in.Text(40);
  const bool bKeyTaken = oSec.SetKey(sKey);
  ORV_FUZZ_CHECK(bKeyTaken == (sKey.size() >= 6));
  ORV_FUZZ_CHECK(oSec.IsKeyValid() == bKeyTaken);

  const uint8_t bMode = in.Byte();
  const std::size_t lFlipAt = static_cast<std::size_t>(in.Between(0, 65535));
  const uint8_t bFlip = in.Byte();
  const std::string sData = in.Rest();
  if (bMode & 1) RoundTrip(oSec, sData, lFlipAt, bFlip);
  else DecodeAnything(oSec, sData);
  // A valid key never makes the encoder complain.
  ORV_FUZZ_CHECK(app.boxes.empty());
}
