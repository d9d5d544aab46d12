#pragma once

#include <QStringList>

class QListWidget;

// Fills a file list with one row per name, in the order given, after what it
// holds. Every row has the height and the width of the widest name, so that
// the list lays out tens of thousands of rows without measuring each: the
// rows' width is taken from the names longest in characters, which the
// list scrolls to in full.
void FileList_Add(QListWidget* pList, const QStringList& vsNames);
