#include "FileList.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QListWidget>
#include <QSignalBlocker>

#include <algorithm>

#include "ByteText.h"
#include "FileListDelegate.h"
#include "NameOrder.h"

namespace {

// How many of the longest names are measured for the rows' width. A name
// with fewer characters than all of them but wider letters is the one case
// that could be cut; among the longest this many, it is not met in practice.
constexpr std::size_t kMeasured = 200;

constexpr int kSizeRole = Qt::UserRole + 10;
constexpr int kModifiedRole = Qt::UserRole + 11;

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
  {
    // The rows were inserted together and have not been painted since:
    // their facts need no notice to the view each, which would cost a
    // signal per row.
    const QSignalBlocker oQuiet(pList->model());
    for (std::size_t i = 0; i < vEntries.size(); ++i) {
      QListWidgetItem* pItem = pList->item(iBefore + static_cast<int>(i));
      if (vEntries[i].lSize >= 0) pItem->setData(kSizeRole, static_cast<qlonglong>(vEntries[i].lSize));
      if (vEntries[i].lModified >= 0) pItem->setData(kModifiedRole, static_cast<qlonglong>(vEntries[i].lModified));
    }
  }
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

QString FileList_SizeText(const QListWidgetItem* pItem) {
  const QVariant v = pItem->data(kSizeRole);
  return v.isValid() ? QString::fromStdString(ByteText_Count(static_cast<double>(v.toLongLong()))) : QString();
}

QString FileList_DateText(const QListWidgetItem* pItem) {
  const QVariant v = pItem->data(kModifiedRole);
  if (!v.isValid()) return {};
  return QDateTime::fromSecsSinceEpoch(v.toLongLong()).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}
