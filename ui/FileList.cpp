#include "FileList.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QListWidget>

#include <algorithm>

#include "ByteText.h"
#include "FileListDelegate.h"
#include "NameOrder.h"

namespace {

// How many of the longest names are measured for the rows' width. A name
// with fewer characters than all of them but wider letters is the one case
// that could be cut; among the longest this many, it is not met in practice.
constexpr std::size_t kMeasured = 200;

FileListDelegate* DelegateOf(QListWidget* pList) {
  auto* pDelegate = qobject_cast<FileListDelegate*>(pList->itemDelegate());
  if (!pDelegate) {
    pDelegate = new FileListDelegate(pList);
    pList->setItemDelegate(pDelegate);
  }
  return pDelegate;
}

}  // namespace

void FileList_Add(QListWidget* pList, std::vector<FileListEntry> vEntries) {
  pList->setUniformItemSizes(true);
  FileListDelegate* pDelegate = DelegateOf(pList);
  NameOrder::Sort(vEntries, [](const FileListEntry& e) -> const QString& { return e.sName; });
  // The names' lengths, taken once: an item hands out its text as a copy.
  const int iBefore = pList->count();
  std::vector<qsizetype> vLength;
  vLength.reserve(static_cast<std::size_t>(iBefore) + vEntries.size());
  for (int i = 0; i < iBefore; ++i) vLength.push_back(pList->item(i)->text().size());
  QStringList vsNames;
  vsNames.reserve(static_cast<qsizetype>(vEntries.size()));
  for (FileListEntry& e : vEntries) {
    vLength.push_back(e.sName.size());
    vsNames.append(std::move(e.sName));
  }
  pList->addItems(vsNames);
  // The rows were inserted together and have not been painted since: their
  // facts need no notice to the view.
  for (std::size_t i = 0; i < vEntries.size(); ++i)
    pDelegate->SetRowFacts(iBefore + static_cast<int>(i), {vEntries[i].lSize, vEntries[i].lModified});
  if (pList->count() == 0) return;

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
  pDelegate->SetNameWidth(iWidest + iMargins);
  pFirst->setSizeHint(QSize(iWidest + iMargins + FileListDelegate::FactsWidth(oMetrics), oNatural.height()));
}

namespace {

FileListDelegate::Facts FactsOf(const QListWidgetItem* pItem) {
  QListWidget* pList = pItem ? pItem->listWidget() : nullptr;
  const auto* pDelegate = pList ? qobject_cast<const FileListDelegate*>(pList->itemDelegate()) : nullptr;
  return pDelegate ? pDelegate->RowFacts(pList->row(pItem)) : FileListDelegate::Facts{};
}

}  // namespace

QString FileList_SizeText(const QListWidgetItem* pItem) {
  const std::int64_t lSize = FactsOf(pItem).lSize;
  return lSize >= 0 ? QString::fromStdString(ByteText_Count(static_cast<double>(lSize))) : QString();
}

QString FileList_DateText(const QListWidgetItem* pItem) {
  const std::int64_t lModified = FactsOf(pItem).lModified;
  if (lModified < 0) return {};
  return QDateTime::fromSecsSinceEpoch(lModified).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}
