#include "FileList.h"

#include <QFontMetrics>
#include <QListWidget>

#include <algorithm>
#include <vector>

namespace {

// How many of the longest names are measured for the rows' width. A name
// with fewer characters than all of them but wider letters is the one case
// that could be cut; among the longest this many, it is not met in practice.
constexpr std::size_t kMeasured = 200;

}  // namespace

void FileList_Add(QListWidget* pList, const QStringList& vsNames) {
  pList->setUniformItemSizes(true);
  const int iBefore = pList->count();
  pList->addItems(vsNames);
  if (pList->count() == 0) return;

  // The names' lengths, taken once: an item hands out its text as a copy.
  std::vector<qsizetype> vLength(static_cast<std::size_t>(pList->count()));
  for (int i = 0; i < iBefore; ++i) vLength[static_cast<std::size_t>(i)] = pList->item(i)->text().size();
  for (qsizetype i = 0; i < vsNames.size(); ++i) vLength[static_cast<std::size_t>(iBefore + i)] = vsNames[i].size();
  std::vector<int> vIndex(vLength.size());
  for (std::size_t i = 0; i < vIndex.size(); ++i) vIndex[i] = static_cast<int>(i);
  const std::size_t lMeasured = std::min(kMeasured, vIndex.size());
  std::partial_sort(
      vIndex.begin(), vIndex.begin() + static_cast<std::ptrdiff_t>(lMeasured), vIndex.end(),
      [&vLength](int a, int b) { return vLength[static_cast<std::size_t>(a)] > vLength[static_cast<std::size_t>(b)]; });
  const QFontMetrics oMetrics(pList->font());
  int iWidest = 0;
  for (std::size_t i = 0; i < lMeasured; ++i)
    iWidest = std::max(iWidest, oMetrics.horizontalAdvance(pList->item(vIndex[i])->text()));

  // The first row stands for all of them; its own size tells the margins.
  QListWidgetItem* pFirst = pList->item(0);
  pFirst->setSizeHint(QSize());
  const QSize oNatural = pList->sizeHintForIndex(pList->indexFromItem(pFirst));
  const int iMargins = std::max(0, oNatural.width() - oMetrics.horizontalAdvance(pFirst->text()));
  pFirst->setSizeHint(QSize(iWidest + iMargins, oNatural.height()));
}
