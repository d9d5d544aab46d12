#pragma once

#include <QCollator>
#include <QString>

#include <algorithm>
#include <vector>

// The order people sort file names in: without regard to case, letters
// with accents or umlauts beside their base letters ("Straße" among the
// "S", "über" among the "u"), and runs of digits by their value ("file2"
// before "file10"). Names equal in that order stand in the order of their
// characters, so the order is always the same.
class NameOrder {
 public:
  // The user's language; the plain C locale, which orders by character
  // codes, is read as English.
  NameOrder();

  bool Less(const QString& a, const QString& b) const;

  // Sorts vItems by the name fnName gives for each; the names' sort keys
  // are made once each.
  template <typename T, typename Fn>
  void Sort(std::vector<T>& vItems, Fn fnName) const {
    std::vector<Keyed> vKeyed;
    vKeyed.reserve(vItems.size());
    for (std::size_t i = 0; i < vItems.size(); ++i) {
      const QString& sName = fnName(vItems[i]);
      vKeyed.push_back({m_oCollator.sortKey(sName), sName, i});
    }
    std::sort(vKeyed.begin(), vKeyed.end(), [](const Keyed& a, const Keyed& b) { return KeyedLess(a, b); });
    std::vector<T> vSorted;
    vSorted.reserve(vItems.size());
    for (const Keyed& k : vKeyed) vSorted.push_back(std::move(vItems[k.lIndex]));
    vItems = std::move(vSorted);
  }

 private:
  struct Keyed {
    QCollatorSortKey oKey;
    QString sName;
    std::size_t lIndex;
  };
  static bool KeyedLess(const Keyed& a, const Keyed& b);

  QCollator m_oCollator;
};
