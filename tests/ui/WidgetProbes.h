#pragma once

// What the window tests read off the widgets: texts, button colours and
// list entries, as the byte strings the window converts them to.
#include <QApplication>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>

#include <string>
#include <vector>

#include "ByteText.h"

// The colours the window gives its command buttons.
inline const QColor kGreen(0, 255, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kRed(255, 0, 0);

inline std::string Text(const QLineEdit* p) { return ByteText_ToBytes(p->text()); }
inline std::string Text(const QLabel* p) { return ByteText_ToBytes(p->text()); }
inline QColor Colour(const QPushButton* p) { return p->palette().color(QPalette::Button); }
// A button's colour before the window gave it one.
inline QColor ButtonFace() { return QApplication::palette().color(QPalette::Button); }

inline std::vector<std::string> Entries(const QListWidget* p) {
  std::vector<std::string> vs;
  for (int i = 0; i < p->count(); ++i) vs.push_back(ByteText_ToBytes(p->item(i)->text()));
  return vs;
}
