#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

// What the fuzz targets share: the check that ends a run on a broken
// property, and a reader that takes values from the fuzzer's bytes.
//
// Under libFuzzer a broken property aborts, so the fuzzer keeps the input as
// a crash. In the replay test it throws, so the test names the corpus file
// and goes on with the next one.

namespace orvfuzz {

struct CheckFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Fail(const char* sWhat, const char* sFile, int iLine) {
  const std::string sText = std::string(sFile) + ":" + std::to_string(iLine) + ": property broken: " + sWhat;
#ifdef ORV_FUZZ_REPLAY
  throw CheckFailure(sText);
#else
  std::fprintf(stderr, "%s\n", sText.c_str());
  std::abort();
#endif
}

// Takes values from the front of the input; once it is used up every value
// is zero or empty, so any input is a valid one.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* pData, std::size_t lSize) : m_p(pData), m_lLeft(lSize) {}

  bool Empty() const { return m_lLeft == 0; }

  uint8_t Byte() {
    if (m_lLeft == 0) return 0;
    --m_lLeft;
    return *m_p++;
  }

  bool Flag() { return (Byte() & 1) != 0; }

  // A value in [lLow, lHigh], from one or two bytes.
  long Between(long lLow, long lHigh) {
    const unsigned long lSpan = static_cast<unsigned long>(lHigh - lLow) + 1;
    unsigned long u = Byte();
    if (lSpan > 256) u = (u << 8) | Byte();
    return lLow + static_cast<long>(u % lSpan);
  }

  // A text of a length given by one byte (at most lMax bytes).
  std::string Text(std::size_t lMax = 255) {
    std::size_t n = Byte();
    if (n > lMax) n = n % (lMax + 1);
    return Take(n);
  }

  // Everything that is left.
  std::string Rest() { return Take(m_lLeft); }

  // The next n bytes, fewer when the input ends first.
  std::string Take(std::size_t n) {
    if (n > m_lLeft) n = m_lLeft;
    std::string s(reinterpret_cast<const char*>(m_p), n);
    m_p += n;
    m_lLeft -= n;
    return s;
  }

 private:
  const uint8_t* m_p;
  std::size_t m_lLeft;
};

}  // namespace orvfuzz

#define ORV_FUZZ_CHECK(cond)                                 \
  do {                                                       \
    if (!(cond)) ::orvfuzz::Fail(#cond, __FILE__, __LINE__); \
  } while (0)
