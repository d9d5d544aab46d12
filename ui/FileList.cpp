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
  pList->addItems(vsNames);
  if (pList->count() == 0) return;

  std::vector<int> vIndex(static_cast<std::size_t>(pList->count()));
  for (std::size_t i = 0; i < vIndex.size(); ++i) vIndex[i] = static_cast<int>(i);
  const std::size_t lMeasured = std::min(kMeasured, vIndex.size());
  std::partial_sort(vIndex.begin(), vIndex.begin() + static_cast<std::ptrdiff_t>(lMeasured), vIndex.end(),
                    [pList](int a, int b) { return pList->item(a)->text().size() > pList->item(b)->text().size(); });
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
