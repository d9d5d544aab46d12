#pragma once

#include <QString>

#include <algorithm>
#include <vector>

// The order people sort file names in: without regard to case, letters
// with accents or umlauts beside their base letters ("über" among the "u",
// "ß" as "ss"), and runs of digits by their value ("file2" before
// "file10"). Names equal in that order stand in the order of their
// characters, so the order is always the same. The order is the same in
// every locale; it is made from a key per name, so that sorting tens of
// thousands of names costs little more than sorting their keys.
class NameOrder {
 public:
  // The name's sort key: compared as plain strings, keys give the order.
  static QString Key(const QString& sName);

  static bool Less(const QString& a, const QString& b);

  // Sorts vItems by the name fnName gives for each.
  template <typename T, typename Fn>
  static void Sort(std::vector<T>& vItems, Fn fnName) {
    std::vector<Keyed> vKeyed;
    vKeyed.reserve(vItems.size());
    for (std::size_t i = 0; i < vItems.size(); ++i) {
      const QString& sName = fnName(vItems[i]);
      vKeyed.push_back({Key(sName), sName, i});
    }
    std::sort(vKeyed.begin(), vKeyed.end(), [](const Keyed& a, const Keyed& b) { return KeyedLess(a, b); });
    std::vector<T> vSorted;
    vSorted.reserve(vItems.size());
    for (const Keyed& k : vKeyed) vSorted.push_back(std::move(vItems[k.lIndex]));
    vItems = std::move(vSorted);
  }

 private:
  struct Keyed {
    QString sKey;
    QString sName;
    std::size_t lIndex;
  };
  static bool KeyedLess(const Keyed& a, const Keyed& b) {
    const int i = a.sKey.compare(b.sKey);
    return i != 0 ? i < 0 : a.sName < b.sName;
  }
};
