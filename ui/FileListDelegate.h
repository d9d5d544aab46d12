#pragma once

#include <QStyledItemDelegate>

// Draws a file list's row: the name as the list would, and after the
// widest name the file's size (right-aligned) and date, in the row's text
// colour. The row's text stays the name alone. Where the list is too
// narrow to show them, a row's tool tip tells them.
class FileListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit FileListDelegate(QObject* pParent) : QStyledItemDelegate(pParent) {}

  // Where the facts begin, from the row's left edge.
  void SetNameWidth(int iWidth) { m_iNameWidth = iWidth; }
  // The width the facts take after the name, in the given font.
  static int FactsWidth(const QFontMetrics& oMetrics);

  void paint(QPainter* pPainter, const QStyleOptionViewItem& oOption, const QModelIndex& oIndex) const override;
  bool helpEvent(QHelpEvent* pEvent, QAbstractItemView* pView, const QStyleOptionViewItem& oOption,
                 const QModelIndex& oIndex) override;

 private:
  int m_iNameWidth = 0;
};
