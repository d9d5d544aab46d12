#include "NameOrder.h"

namespace {

// A run of digits stands in the key as its length (leading zeros aside),
// then its digits: a shorter number is a smaller one. The mark sorts where
// the digits do, after spaces and punctuation and before letters.
constexpr char16_t kNumberMark = u'0';

bool IsAscii(const QString& s) {
  for (const QChar c : s)
    if (c.unicode() >= 0x80) return false;
  return true;
}

// Letters with their accents taken off, "ß" spelt out, folded to one case.
QString Plain(const QString& sName) {
  if (IsAscii(sName)) return sName.toLower();
  const QString sApart = sName.normalized(QString::NormalizationForm_KD);
  QString sPlain;
  sPlain.reserve(sApart.size());
  for (const QChar c : sApart) {
    if (c.category() == QChar::Mark_NonSpacing) continue;
    if (c == QChar(0x00DF) || c == QChar(0x1E9E)) {
      sPlain += QStringLiteral("ss");
      continue;
    }
    sPlain += c;
  }
  return sPlain.toCaseFolded();
}

}  // namespace

QString NameOrder::Key(const QString& sName) {
  const QString sPlain = Plain(sName);
  QString sKey;
  sKey.reserve(sPlain.size() + 4);
  for (qsizetype i = 0; i < sPlain.size();) {
    if (!sPlain[i].isDigit() || sPlain[i].unicode() >= 0x80) {
      sKey += sPlain[i++];
      continue;
    }
    qsizetype lStart = i;
    while (i < sPlain.size() && sPlain[i].unicode() < 0x80 && sPlain[i].isDigit()) ++i;
    const qsizetype lEnd = i;
    while (lStart + 1 < lEnd && sPlain[lStart] == u'0') ++lStart;
    sKey += QChar(kNumberMark);
    // Lengths beyond any real number still order, if not by value.
    sKey += QChar(static_cast<char16_t>(0x100 + std::min<qsizetype>(lEnd - lStart, 0xFEFF)));
    sKey += QStringView(sPlain).mid(lStart, lEnd - lStart);
  }
  return sKey;
}

bool NameOrder::Less(const QString& a, const QString& b) {
  const int i = Key(a).compare(Key(b));
  return i != 0 ? i < 0 : a < b;
}
