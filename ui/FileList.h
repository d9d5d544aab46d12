#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class QListWidget;
class QListWidgetItem;

// One row of a file list: the name, and what is known of the file.
struct FileListEntry {
  QString sName;
  // Bytes, and the last change in seconds since 1970 UTC; -1 where unknown.
  std::int64_t lSize = -1;
  std::int64_t lModified = -1;
};

// Fills a file list with one row per entry after what it holds, the new
// rows in the order people sort names (NameOrder). A row's text is the
// name; its size and date stand beside it, drawn by the list's delegate
// (FileListDelegate), which FileList_Add puts in place. Every row has the
// height and the width of the widest name and the facts, so that the list
// lays out tens of thousands of rows without measuring each: the rows'
// width is taken from the names longest in characters, which the list
// scrolls to in full.
void FileList_Add(QListWidget* pList, std::vector<FileListEntry> vEntries);

// What a row shows beside its name: the size ("3.1 MiB") and the date in
// local time ("2026-12-08 10:00"), each empty where unknown.
QString FileList_SizeText(const QListWidgetItem* pItem);
QString FileList_DateText(const QListWidgetItem* pItem);
