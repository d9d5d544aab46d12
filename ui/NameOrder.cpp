#include "NameOrder.h"

#include <algorithm>

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

// Letters with their accents taken off, "ß" spelt out, folded to one case;
// a name of ASCII alone comes back as it is, since the key lowers those
// letters as it goes.
QString Plain(const QString& sName) {
  if (IsAscii(sName)) return sName;
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
  QString sKey;
  sKey.reserve(sName.size() + 4);
  AppendKey(sName, sKey);
  return sKey;
}

void NameOrder::AppendKey(const QString& sName, QString& sKey) {
  const QString sPlain = Plain(sName);
  for (qsizetype i = 0; i < sPlain.size();) {
    const char16_t c = sPlain[i].unicode();
    if (c >= u'A' && c <= u'Z') {
      sKey += QChar(static_cast<char16_t>(c + (u'a' - u'A')));
      ++i;
      continue;
    }
    if (c < u'0' || c > u'9') {
      sKey += sPlain[i++];
      continue;
    }
    qsizetype lStart = i;
    while (i < sPlain.size() && sPlain[i].unicode() >= u'0' && sPlain[i].unicode() <= u'9') ++i;
    const qsizetype lEnd = i;
    while (lStart + 1 < lEnd && sPlain[lStart] == u'0') ++lStart;
    sKey += QChar(kNumberMark);
    // Lengths beyond any real number still order, if not by value.
    sKey += QChar(static_cast<char16_t>(0x100 + std::min<qsizetype>(lEnd - lStart, 0xFEFF)));
    sKey += QStringView(sPlain).mid(lStart, lEnd - lStart);
  }
}

std::vector<std::size_t> NameOrder::Order(const std::vector<const QString*>& vpNames) {
  // All keys in one string, each found by where it starts: a listing of
  // tens of thousands of names makes one allocation for them, not one each.
  struct Keyed {
    qsizetype lStart;
    qsizetype lLength;
    std::size_t lIndex;
  };
  qsizetype lTotal = 0;
  for (const QString* p : vpNames) lTotal += p->size() + 4;
  QString sKeys;
  sKeys.reserve(lTotal);
  std::vector<Keyed> vKeyed;
  vKeyed.reserve(vpNames.size());
  for (std::size_t i = 0; i < vpNames.size(); ++i) {
    const qsizetype lStart = sKeys.size();
    AppendKey(*vpNames[i], sKeys);
    vKeyed.push_back({lStart, sKeys.size() - lStart, i});
  }
  const QStringView oKeys(sKeys);
  std::sort(vKeyed.begin(), vKeyed.end(), [&](const Keyed& a, const Keyed& b) {
    const int i = oKeys.mid(a.lStart, a.lLength).compare(oKeys.mid(b.lStart, b.lLength));
    return i != 0 ? i < 0 : *vpNames[a.lIndex] < *vpNames[b.lIndex];
  });
  std::vector<std::size_t> vOrder;
  vOrder.reserve(vKeyed.size());
  for (const Keyed& k : vKeyed) vOrder.push_back(k.lIndex);
  return vOrder;
}

bool NameOrder::Less(const QString& a, const QString& b) {
  const int i = Key(a).compare(Key(b));
  return i != 0 ? i < 0 : a < b;
}
