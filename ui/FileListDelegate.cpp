#include "FileListDelegate.h"

#include <QHelpEvent>
#include <QListWidget>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

#include "FileList.h"

namespace {

// The gap before each fact, in widths of an "M".
constexpr int kGapEms = 2;

int SizeWidth(const QFontMetrics& oMetrics) { return oMetrics.horizontalAdvance(QStringLiteral("1023.9 MiB")); }
int DateWidth(const QFontMetrics& oMetrics) { return oMetrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00")); }
int Gap(const QFontMetrics& oMetrics) { return kGapEms * oMetrics.horizontalAdvance(QLatin1Char('M')); }

}  // namespace

FileListDelegate::FileListDelegate(QListWidget* pList)
    : QStyledItemDelegate(pList), m_vFacts(static_cast<std::size_t>(pList->count())) {
  const QAbstractItemModel* pModel = pList->model();
  connect(pModel, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int iFirst, int iLast) {
    const auto lAt = std::min(m_vFacts.size(), static_cast<std::size_t>(iFirst));
    m_vFacts.insert(m_vFacts.begin() + static_cast<std::ptrdiff_t>(lAt), static_cast<std::size_t>(iLast - iFirst + 1),
                    Facts{});
  });
  connect(pModel, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int iFirst, int iLast) {
    const auto lFirst = std::min(m_vFacts.size(), static_cast<std::size_t>(iFirst));
    const auto lEnd = std::min(m_vFacts.size(), static_cast<std::size_t>(iLast) + 1);
    m_vFacts.erase(m_vFacts.begin() + static_cast<std::ptrdiff_t>(lFirst),
                   m_vFacts.begin() + static_cast<std::ptrdiff_t>(lEnd));
  });
  connect(pModel, &QAbstractItemModel::rowsMoved, this,
          [this](const QModelIndex&, int iFirst, int iLast, const QModelIndex&, int iTo) {
            // Rows [iFirst, iLast] now stand before the row that was at iTo.
            const auto lFirst = static_cast<std::size_t>(iFirst);
            const auto lEnd = static_cast<std::size_t>(iLast) + 1;
            const auto lTo = static_cast<std::size_t>(iTo);
            if (lEnd > m_vFacts.size() || lTo > m_vFacts.size()) return;
            const auto itBegin = m_vFacts.begin();
            if (lTo < lFirst)
              std::rotate(itBegin + static_cast<std::ptrdiff_t>(lTo), itBegin + static_cast<std::ptrdiff_t>(lFirst),
                          itBegin + static_cast<std::ptrdiff_t>(lEnd));
            else if (lTo > lEnd)
              std::rotate(itBegin + static_cast<std::ptrdiff_t>(lFirst), itBegin + static_cast<std::ptrdiff_t>(lEnd),
                          itBegin + static_cast<std::ptrdiff_t>(lTo));
          });
  connect(pModel, &QAbstractItemModel::modelReset, this, [this] { m_vFacts.clear(); });
}

FileListDelegate::Facts FileListDelegate::RowFacts(int iRow) const {
  if (iRow < 0 || static_cast<std::size_t>(iRow) >= m_vFacts.size()) return {};
  return m_vFacts[static_cast<std::size_t>(iRow)];
}

void FileListDelegate::SetRowFacts(int iRow, Facts oFacts) {
  if (iRow < 0 || static_cast<std::size_t>(iRow) >= m_vFacts.size()) return;
  m_vFacts[static_cast<std::size_t>(iRow)] = oFacts;
}

int FileListDelegate::FactsWidth(const QFontMetrics& oMetrics) {
  return 2 * Gap(oMetrics) + SizeWidth(oMetrics) + DateWidth(oMetrics);
}

void FileListDelegate::paint(QPainter* pPainter, const QStyleOptionViewItem& oOption, const QModelIndex& oIndex) const {
  QStyledItemDelegate::paint(pPainter, oOption, oIndex);
  const auto* pList = qobject_cast<const QListWidget*>(oOption.widget);
  const QListWidgetItem* pItem = pList ? pList->item(oIndex.row()) : nullptr;
  if (!pItem) return;
  const QString sSize = FileList_SizeText(pItem);
  const QString sDate = FileList_DateText(pItem);
  if (sSize.isEmpty() && sDate.isEmpty()) return;

  const QFontMetrics& oMetrics = oOption.fontMetrics;
  const QRect oRow = oOption.rect;
  const int iSizeLeft = oRow.left() + m_iNameWidth + Gap(oMetrics);
  const int iDateLeft = iSizeLeft + SizeWidth(oMetrics) + Gap(oMetrics);
  pPainter->save();
  const bool bSelected = (oOption.state & QStyle::State_Selected) != 0;
  pPainter->setPen(oOption.palette.color(bSelected ? QPalette::HighlightedText : QPalette::Text));
  pPainter->setFont(oOption.font);
  pPainter->drawText(QRect(iSizeLeft, oRow.top(), SizeWidth(oMetrics), oRow.height()),
                     Qt::AlignRight | Qt::AlignVCenter, sSize);
  pPainter->drawText(QRect(iDateLeft, oRow.top(), DateWidth(oMetrics), oRow.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     sDate);
  pPainter->restore();
}

bool FileListDelegate::helpEvent(QHelpEvent* pEvent, QAbstractItemView* pView, const QStyleOptionViewItem& oOption,
                                 const QModelIndex& oIndex) {
  const auto* pList = qobject_cast<const QListWidget*>(pView);
  const QListWidgetItem* pItem = pList ? pList->item(oIndex.row()) : nullptr;
  if (!pItem || pEvent->type() != QEvent::ToolTip)
    return QStyledItemDelegate::helpEvent(pEvent, pView, oOption, oIndex);
  QStringList vsFacts;
  for (const QString& s : {FileList_SizeText(pItem), FileList_DateText(pItem)})
    if (!s.isEmpty()) vsFacts.append(s);
  if (vsFacts.isEmpty()) return QStyledItemDelegate::helpEvent(pEvent, pView, oOption, oIndex);
  QToolTip::showText(pEvent->globalPos(), pItem->text() + QLatin1Char('\n') + vsFacts.join(QStringLiteral(", ")),
                     pView);
  return true;
}
