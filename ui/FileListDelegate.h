#pragma once

#include <QStyledItemDelegate>

#include <cstdint>
#include <vector>

class QListWidget;

// Draws a file list's row: the name as the list would, and after the
// widest name the file's size (right-aligned) and date, in the row's text
// colour. The row's text stays the name alone. Where the list is too
// narrow to show them, a row's tool tip tells them.
//
// The facts are kept here, a pair per row, and follow the list's rows as
// they are inserted, removed, moved or cleared. Held in the items as data
// of their own, they would cost two growths of each item's data: a third
// of the time a listing of 50,000 files takes to fill the list. The list
// must not be sorted by the widget itself, which would reorder its rows
// without telling where each went; file lists are filled in order.
class FileListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  struct Facts {
    // Bytes, and the last change in seconds since 1970 UTC; -1 where unknown.
    std::int64_t lSize = -1;
    std::int64_t lModified = -1;
  };

  // Draws pList's rows and keeps their facts from now on.
  explicit FileListDelegate(QListWidget* pList);

  // The facts of row iRow; unknown ones for a row out of range.
  Facts RowFacts(int iRow) const;
  void SetRowFacts(int iRow, Facts oFacts);

  // Where the facts begin, from the row's left edge.
  void SetNameWidth(int iWidth) { m_iNameWidth = iWidth; }
  // The width the facts take after the name, in the given font.
  static int FactsWidth(const QFontMetrics& oMetrics);

  void paint(QPainter* pPainter, const QStyleOptionViewItem& oOption, const QModelIndex& oIndex) const override;
  bool helpEvent(QHelpEvent* pEvent, QAbstractItemView* pView, const QStyleOptionViewItem& oOption,
                 const QModelIndex& oIndex) override;

 private:
  int m_iNameWidth = 0;
  std::vector<Facts> m_vFacts;
};
