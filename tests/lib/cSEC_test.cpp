#include "cSEC.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "OrvError.h"
#include "RecordingApp.h"

struct cSECTestPeer {
  static std::string Pack(std::string s) { return cSEC::PackText(s), s; }
  static bool Unpack(std::string& s) { return cSEC::UnpackText(s); }
  static std::string Shift(std::string s) { return cSEC::ShiftCodes(s), s; }
  static std::string Unshift(std::string s) { return cSEC::UnshiftCodes(s), s; }
  static std::string Scramble(const std::string& s) { return cSEC::Scramble(s); }
  static std::string Unscramble(const std::string& s) { return cSEC::Unscramble(s); }
  static std::string Xor(std::string s, const std::string& sKey) { return cSEC::XorWithKey(s, sKey), s; }
  static long CheckSum(const std::string& s) { return cSEC::GetCheckSum(s); }
};
using Peer = cSECTestPeer;

namespace {

const std::string kSettingsKey = "\xF6" "RRk/zy7T7y=+4MX-kyp^cd$&gWdd";
const std::string kPadding = "Q%}~h" "\xE8\xFC" "!+ZXM8~&& ,_D";

std::string RandomBytes(std::mt19937& rng, std::size_t n) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(byte(rng));
  return s;
}

std::string Hex(const std::string& s) {
  static const char* kDigits = "0123456789abcdef";
  std::string sHex;
  for (unsigned char c : s) sHex += {kDigits[c >> 4], kDigits[c & 15]};
  return sHex;
}

// The permutation exactly as described, with a plain linear probe for free places.
std::string ScrambleByLinearProbe(const std::string& s) {
  const std::size_t n = s.size();
  std::string sOut(n, '\0');
  std::vector<bool> abTaken(n + 1, false);
  std::size_t p = 1;
  for (std::size_t r = n; r >= 1; --r) {
    sOut[p - 1] = s[r - 1];
    abTaken[p] = true;
    if (r == 1) break;
    p += static_cast<unsigned char>(s[r - 1]);
    while (p > n) p -= n;
    while (abTaken[p]) p = p == n ? 1 : p + 1;
  }
  return sOut;
}

cSEC WithKey(const std::string& sKey) {
  cSEC o;
  EXPECT_TRUE(o.SetKey(sKey));
  return o;
}

}  // namespace

TEST(cSEC, SettingsFileFormatIsPinned) {
  std::string s = "ftpurl=ftp.example.org\r\nftpusr=alarm\r\nftppwd=s3cr=t\r\n";
  const std::string sPlain = s;
  cSEC o = WithKey(kSettingsKey);
  ASSERT_TRUE(o.Encode(s));
  EXPECT_EQ(Hex(s),
            "7e7e9c14e94f03b82d8333f82834f2d9c0a756019561217b25839ff36a3efd86fef8d18617a8b1fd7ead4abaa8e5e5fc21998ee5c94"
            "3e7e8e8fc6c2b42");
  ASSERT_TRUE(o.Decode(s));
  EXPECT_EQ(s, sPlain);
}

TEST(cSEC, WorkedExamplesOfTheSteps) {
  EXPECT_EQ(Peer::Shift("AAA"), "N[h");
  EXPECT_EQ(Peer::Unshift("N[h"), "AAA");
  EXPECT_EQ(Peer::Scramble("abc"), "cba");
  EXPECT_EQ(Peer::Unscramble("cba"), "abc");
  EXPECT_EQ(Peer::Scramble(""), "");
  EXPECT_EQ(Peer::Unscramble(""), "");
  EXPECT_EQ(Peer::Pack("abcdefghijklmnopqrst"), "20|abcdefghijklmnopqrst*2130");
  EXPECT_EQ(Peer::Pack(""), "0|" + kPadding + "*0");
  EXPECT_EQ(Peer::Pack("abcdefghijklmnopqrs"), "19|abcdefghijklmnopqrs" + kPadding + "*2014");
  EXPECT_EQ(Peer::CheckSum("\xFF\x80"), 383);  // codes count unsigned
  EXPECT_EQ(cSEC().GetVersion(), 1000);
}

TEST(cSEC, ShiftWrapsByPositionAcrossMoreThan256Places) {
  const std::string sZeros(600, '\0');
  const std::string sShifted = Peer::Shift(sZeros);
  for (std::size_t i = 1; i <= sZeros.size(); ++i)
    ASSERT_EQ(static_cast<unsigned char>(sShifted[i - 1]), (13 * i) % 256) << "position " << i;
  EXPECT_EQ(Peer::Unshift(sShifted), sZeros);
}

TEST(cSEC, ScrambleMatchesTheLinearProbeAndIsUndone) {
  std::mt19937 rng(7);
  std::vector<std::string> asTexts = {std::string(5000, '\0'), std::string(3000, '\x01'), std::string(4097, '\xFF')};
  for (std::size_t n : {1, 2, 3, 255, 256, 257, 1000, 20000}) asTexts.push_back(RandomBytes(rng, n));
  for (const std::string& s : asTexts) {
    const std::string sScrambled = Peer::Scramble(s);
    ASSERT_EQ(sScrambled, ScrambleByLinearProbe(s)) << "length " << s.size();
    ASSERT_EQ(Peer::Unscramble(sScrambled), s) << "length " << s.size();
  }
}

TEST(cSEC, XorWithShortKeyWarnsAndLeavesTheText) {
  RecordingApp app;
  EXPECT_EQ(Peer::Xor("secret", "12345"), "secret");
  ASSERT_EQ(app.boxes.size(), 1u);
  EXPECT_EQ(app.boxes[0].sText, "Der Schlüssel muss mindestens 6 Zeichen lang sein!");
  EXPECT_EQ(app.boxes[0].sTitle, "SEC Fehlerhinweis");
  EXPECT_EQ(Peer::Xor(Peer::Xor("abcdefgh", "\x01\x02\x03\x04\x05\x06"), "\x01\x02\x03\x04\x05\x06"), "abcdefgh");
  EXPECT_EQ(Peer::Xor("\x01\x01\x01\x01\x01\x01\x01", "\x01\x02\x03\x04\x05\x06"), std::string("\0\3\2\5\4\7\0", 7));
  EXPECT_EQ(app.boxes.size(), 1u);
}

TEST(cSEC, KeysShorterThanSixAreRefused) {
  RecordingApp app;
  cSEC o;
  std::string s = "plain";
  EXPECT_FALSE(o.Encode(s));
  EXPECT_TRUE(o.SetKey("123456"));
  EXPECT_TRUE(o.IsKeyValid());
  EXPECT_FALSE(o.SetKey("12345"));  // also clears the key set before
  EXPECT_FALSE(o.IsKeyValid());
  EXPECT_FALSE(o.Encode(s));
  EXPECT_FALSE(o.Decode(s));
  EXPECT_EQ(s, "plain");
  EXPECT_TRUE(app.boxes.empty());
}

TEST(cSEC, RoundTripsAnyBytesUnderAnyValidKey) {
  std::mt19937 rng(2026);
  std::uniform_int_distribution<std::size_t> keyLength(6, 40);
  for (std::size_t n : {0, 1, 19, 20, 21, 1000, 100000}) {
    for (int iRun = 0; iRun < 3; ++iRun) {
      cSEC o = WithKey(RandomBytes(rng, keyLength(rng)));
      const std::string sPlain = RandomBytes(rng, n);
      std::string s = sPlain;
      ASSERT_TRUE(o.Encode(s));
      EXPECT_EQ(s.size(), Peer::Pack(sPlain).size());
      ASSERT_TRUE(o.Decode(s)) << "length " << n;
      ASSERT_EQ(s, sPlain) << "length " << n;
    }
  }
  cSEC o = WithKey(kSettingsKey);
  for (std::string sPlain : {"1234567890123456789012345", "x=1|2*3|", "**||**", "0", "|", "*42", "a*20"}) {
    std::string s = sPlain;
    ASSERT_TRUE(o.Encode(s));
    ASSERT_TRUE(o.Decode(s));
    EXPECT_EQ(s, sPlain);
  }
}

TEST(cSEC, EmptyTextIsFramedAndComesBack) {
  cSEC o = WithKey("abcdef");
  std::string s;
  ASSERT_TRUE(o.Encode(s));
  EXPECT_EQ(s.size(), 24u);
  EXPECT_TRUE(o.Decode(s));
  EXPECT_EQ(s, "");
}

TEST(cSEC, AnotherKeyIsDetected) {
  std::mt19937 rng(99);
  for (int i = 0; i < 50; ++i) {
    std::string s = RandomBytes(rng, static_cast<std::size_t>(i * 7));
    ASSERT_TRUE(WithKey("key-one").Encode(s));
    EXPECT_FALSE(WithKey("key-two").Decode(s));
    EXPECT_EQ(s, "");
  }
}

TEST(cSEC, DamagedFramesAreRejected) {
  const std::string sPadded = "3|abc" + kPadding + "*";
  // Beside a wrong checksum: numbers beyond 32 bits, also those that would
  // wrap round to fit, and every departure from the frame PackText writes.
  for (std::string s : std::vector<std::string>{"", "abc", sPadded + "293", sPadded, "0|" + kPadding + "*",
                        "3|abc*294", "3x|abc" + kPadding + "*294", "3abc|" + kPadding + "*294",
                        "4|abc" + kPadding + "*294", "3|abc" + kPadding + "x*294", "3|abc" + kPadding + "**294",
                        "2147483648|abc*294", "4294967299|abc" + kPadding + "*294",
                        "99999999999999999999|abc*294", sPadded + "4294967590", "20|abcdefghijklmnopqrst" + kPadding + "*2130",
                        "0|xyz", "0"}) {
    EXPECT_FALSE(Peer::Unpack(s)) << s;
    EXPECT_EQ(s, "");
  }
  for (auto [sFrame, sText] : {std::pair<std::string, std::string>{sPadded + "000000000000000000294", "abc"},
                               {"0|" + kPadding + "*0", ""},
                               {"20|abcdefghijklmnopqrst*2130", "abcdefghijklmnopqrst"},
                               {"21|abcdefghijklmnopqrst0*2178", "abcdefghijklmnopqrst0"}}) {
    EXPECT_TRUE(Peer::Unpack(sFrame)) << sText;
    EXPECT_EQ(sFrame, sText);
  }
}

TEST(cSEC, GarbageAndTruncatedCiphertextsNeverCrash) {
  std::mt19937 rng(5);
  cSEC o = WithKey(kSettingsKey);
  for (int i = 0; i < 2000; ++i) {
    std::string s = RandomBytes(rng, static_cast<std::size_t>(i % 300));
    if (!o.Decode(s)) {
      EXPECT_EQ(s, "");
    }
  }
  // Frame-like texts reach every check of the frame reader.
  const std::string sAlphabet = "0123456789|*9|x";
  std::uniform_int_distribution<std::size_t> pick(0, sAlphabet.size() - 1);
  for (int i = 0; i < 20000; ++i) {
    std::string s(static_cast<std::size_t>(i % 40), ' ');
    for (char& c : s) c = sAlphabet[pick(rng)];
    const std::string sFrame = s;
    if (Peer::Unpack(s)) {
      EXPECT_NE(sFrame.find(s), std::string::npos);
    } else {
      EXPECT_EQ(s, "");
    }
  }
  std::string sCipher = RandomBytes(rng, 500);
  ASSERT_TRUE(o.Encode(sCipher));
  for (std::size_t n = 0; n < sCipher.size(); ++n) {
    std::string s = sCipher.substr(0, n);
    EXPECT_FALSE(o.Decode(s)) << "prefix " << n;
    EXPECT_EQ(s, "");
  }
}

TEST(cSEC, ChecksumBeyond32BitsRaisesOverflowInsteadOfWritingAnUnreadableFrame) {
  std::string sLargest(8421504, '\xFF');
  EXPECT_EQ(Peer::CheckSum(sLargest), 2147483520L);
  std::string s = sLargest + '\xFF';
  try {
    WithKey("abcdef").Encode(s);
    FAIL() << "no error";
  } catch (const OrvError& e) {
    EXPECT_EQ(e.Number(), OrvError::kOverflow);
  }
  EXPECT_EQ(s.size(), sLargest.size() + 1);
}
