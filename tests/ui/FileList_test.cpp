// The file lists' rows: as wide as the widest name, wherever it stands.
#include <QFontMetrics>
#include <QListWidget>

#include <gtest/gtest.h>

#include "FileList.h"
#include "FileListDelegate.h"

TEST(FileList, EveryRowIsAsWideAsTheWidestNameSoNoneIsCut) {
  QListWidget oList;
  std::vector<FileListEntry> vNames;
  for (int i = 0; i < 1000; ++i) vNames.push_back({QStringLiteral("f%1.txt").arg(i)});
  const QString sLong = QStringLiteral("x name far longer than any other in this folder.jpg");
  vNames.insert(vNames.begin() + 300, {sLong});
  FileList_Add(&oList, vNames);
  ASSERT_EQ(oList.count(), 1001);
  ASSERT_EQ(oList.item(1000)->text(), sLong);
  const QFontMetrics oMetrics(oList.font());
  const QModelIndex oLong = oList.indexFromItem(oList.item(1000));
  EXPECT_GE(oList.sizeHintForIndex(oLong).width(), oMetrics.horizontalAdvance(sLong));
  EXPECT_GE(oList.visualRect(oLong).width(), oMetrics.horizontalAdvance(sLong));
  // The size and date beside the name have their room after it too.
  EXPECT_GE(oList.visualRect(oLong).width(),
            oMetrics.horizontalAdvance(sLong) + FileListDelegate::FactsWidth(oMetrics));

  // Refilled with short names only, the rows narrow again.
  oList.clear();
  FileList_Add(&oList, {{QStringLiteral("a")}, {QStringLiteral("b")}});
  EXPECT_LT(oList.sizeHintForIndex(oList.indexFromItem(oList.item(1))).width(), oMetrics.horizontalAdvance(sLong));
}

TEST(FileList, EachRowKeepsItsOwnFactsWhenRowsBeforeItGoOrTheListIsRefilled) {
  QListWidget oList;
  FileList_Add(&oList, {{QStringLiteral("b.txt"), 2048, 0}, {QStringLiteral("a.txt"), 1, -1}, {QStringLiteral("c")}});
  ASSERT_EQ(oList.item(0)->text(), QStringLiteral("a.txt"));
  EXPECT_EQ(FileList_SizeText(oList.item(0)).toStdString(), "1 B");
  EXPECT_TRUE(FileList_DateText(oList.item(0)).isEmpty());
  delete oList.takeItem(0);
  EXPECT_EQ(FileList_SizeText(oList.item(0)).toStdString(), "2.0 KiB");
  EXPECT_FALSE(FileList_DateText(oList.item(0)).isEmpty());
  EXPECT_TRUE(FileList_SizeText(oList.item(1)).isEmpty());
  // A row added by hand knows nothing; the rows after it keep theirs.
  oList.insertItem(0, QStringLiteral("by hand"));
  EXPECT_TRUE(FileList_SizeText(oList.item(0)).isEmpty());
  EXPECT_EQ(FileList_SizeText(oList.item(1)).toStdString(), "2.0 KiB");

  oList.clear();
  FileList_Add(&oList, {{QStringLiteral("d"), 5, -1}});
  EXPECT_EQ(FileList_SizeText(oList.item(0)).toStdString(), "5 B");
  EXPECT_EQ(oList.count(), 1);
}
