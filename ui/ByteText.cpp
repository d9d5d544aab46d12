#include "ByteText.h"

#include <QStringView>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

// A byte b (0x80..0xFF) outside well-formed UTF-8 stands as U+DC00 + b.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;

// The length of the well-formed UTF-8 sequence that starts at p (n bytes
// left), 0 when none starts there. Overlong forms, surrogates and values
// beyond U+10FFFF are not well-formed.
std::size_t SequenceLength(const unsigned char* p, std::size_t n) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  std::size_t lLength = 0;
  unsigned char cLow = 0x80, cHigh = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    lLength = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    lLength = 3;
    if (c == 0xE0) cLow = 0xA0;
    if (c == 0xED) cHigh = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    lLength = 4;
    if (c == 0xF0) cLow = 0x90;
    if (c == 0xF4) cHigh = 0x8F;
  } else {
    return 0;
  }
  if (n < lLength || p[1] < cLow || p[1] > cHigh) return 0;
  for (std::size_t k = 2; k < lLength; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
  }
  return lLength;
}

char32_t CodePoint(const unsigned char* p, std::size_t lLength) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t u = p[0] & kLeadBits[lLength];
  for (std::size_t k = 1; k < lLength; ++k) u = (u << 6) | (p[k] & 0x3F);
  return u;
}

}  // namespace

QString ByteText_FromBytes(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  // Most names are ASCII alone, which reads the same in every form.
  if (std::all_of(p, p + n, [](unsigned char c) { return c < 0x80; }))
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(n));
  QString o;
  o.reserve(static_cast<qsizetype>(n));
  for (std::size_t i = 0; i < n;) {
    const std::size_t lLength = SequenceLength(p + i, n - i);
    if (lLength == 0) {
      o.append(QChar(static_cast<char16_t>(kEscapeBase + p[i])));
      ++i;
      continue;
    }
    const char32_t u = CodePoint(p + i, lLength);
    if (QChar::requiresSurrogates(u)) {
      o.append(QChar(QChar::highSurrogate(u)));
      o.append(QChar(QChar::lowSurrogate(u)));
    } else {
      o.append(QChar(static_cast<char16_t>(u)));
    }
    i += lLength;
  }
  return o;
}

std::string ByteText_ToBytes(const QString& s) {
  std::string o;
  o.reserve(static_cast<std::size_t>(s.size()));
  const QStringView v(s);
  qsizetype lRun = 0;  // where the text not yet written starts
  auto fnWriteRun = [&](qsizetype lEnd) {
    if (lEnd > lRun) o += v.sliced(lRun, lEnd - lRun).toUtf8().toStdString();
  };
  for (qsizetype i = 0; i < v.size(); ++i) {
    const char16_t c = v[i].unicode();
    // A low surrogate right after a high one is half of a pair, no byte.
    const bool bLone = i == 0 || !v[i - 1].isHighSurrogate();
    if (c < kFirstEscape || c > kLastEscape || !bLone) continue;
    fnWriteRun(i);
    o += static_cast<char>(c - kEscapeBase);
    lRun = i + 1;
  }
  fnWriteRun(v.size());
  return o;
}

std::string ByteText_Count(double dBytes) {
  static const char* const aszUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  std::size_t lUnit = 0;
  while (dBytes >= 1024.0 && lUnit + 1 < std::size(aszUnits)) {
    dBytes /= 1024.0;
    ++lUnit;
  }
  char szText[64];
  if (lUnit == 0) std::snprintf(szText, sizeof szText, "%.0f B", dBytes);
  else std::snprintf(szText, sizeof szText, "%.1f %s", dBytes, aszUnits[lUnit]);
  return szText;
}
