#pragma once

#include <string>

// The program's own secret encoder. Encode frames a text with its length and
// checksum, shifts the character codes by their position, permutes the
// characters driven by their codes and XORs the result with the key; Decode
// undoes these steps and checks the frame, so a wrong key or damaged data
// yields false and an empty text. Texts are byte strings (codes 0-255); an
// enciphered text is as long as the framed one and may hold any byte.
class cSEC {
 public:
  long GetVersion() const;
  // Accepts keys of at least 6 characters; a refused key clears the one set before.
  bool SetKey(const std::string& s);
  bool IsKeyValid() const;
  // Both leave s untouched and return false while no valid key is set.
  // Encode raises error 6 (overflow) for a text whose length or checksum
  // does not fit 32 bits, since no Decode could read such a frame back.
  bool Encode(std::string& s) const;
  bool Decode(std::string& s) const;

 private:
  friend struct cSECTestPeer;

  static void PackText(std::string& s);
  static bool UnpackText(std::string& s);
  static void ShiftCodes(std::string& s);
  static void UnshiftCodes(std::string& s);
  static std::string Scramble(const std::string& s);
  static std::string Unscramble(const std::string& s);
  static void XorWithKey(std::string& s, const std::string& sKey);
  static long GetCheckSum(const std::string& s);

  std::string m_sKey;  // the key combined with the key-combining constant
};
