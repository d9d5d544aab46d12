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
    std::vector<const QString*> vpNames;
    vpNames.reserve(vItems.size());
    for (const T& o : vItems) vpNames.push_back(&fnName(o));
    const std::vector<std::size_t> vOrder = Order(vpNames);
    std::vector<T> vSorted;
    vSorted.reserve(vItems.size());
    for (const std::size_t i : vOrder) vSorted.push_back(std::move(vItems[i]));
    vItems = std::move(vSorted);
  }

  // The positions of the names in their order.
  static std::vector<std::size_t> Order(const std::vector<const QString*>& vpNames);

 private:
  // Appends the key of sName to sKeys.
  static void AppendKey(const QString& sName, QString& sKeys);
};
