#pragma once

// What the window tests read off the widgets: texts, button colours and
// list entries, as byte strings.
#include <QApplication>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>

#include <string>
#include <vector>

// The colours the window gives its command buttons.
inline const QColor kGreen(0, 255, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kRed(255, 0, 0);

inline std::string Text(const QLineEdit* p) { return p->text().toStdString(); }
inline std::string Text(const QLabel* p) { return p->text().toStdString(); }
inline QColor Colour(const QPushButton* p) { return p->palette().color(QPalette::Button); }
// A button's colour before the window gave it one.
inline QColor ButtonFace() { return QApplication::palette().color(QPalette::Button); }

inline std::vector<std::string> Entries(const QListWidget* p) {
  std::vector<std::string> vs;
  for (int i = 0; i < p->count(); ++i) vs.push_back(p->item(i)->text().toStdString());
  return vs;
}
