// The window's gets and puts go over a connection of their own: listings
// and the commands go on while a transfer runs.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "CommandWindow.h"
#include "LibOrv.h"
#include "WidgetProbes.h"

using namespace window_test;

namespace {

TEST_F(CommandWindow, GetSizeIsAnsweredWhileASlowQueueOfUploadsRunsAndTheListingAfterShowsTheFiles) {
  FtpTestServer::Options o;
  o.sKind = "slow_upload";  // 256 KiB/s: 2 MiB take 8 s
  FtpTestServer server(o);
  server.WriteFile("/size.bin", std::string(12345, 's'));
  std::ofstream(Local("big.bin"), std::ios::binary) << RandomBytes(2 << 20, 7);
  std::ofstream(Local("small.txt")) << "small";
  ASSERT_TRUE(ConnectAndPutAll(server));
  frmMain& w = W();
  const QRegularExpression oQueued(QStringLiteral(
      "^FTP-PUT 1 of 2: big\\.bin [0-9.]+ (B|KiB|MiB) of 2\\.0 MiB \\([0-9]+ %\\), [0-9.]+ (B|KiB|MiB)/s$"));
  ASSERT_TRUE(PumpUntil([&] { return oQueued.match(w.labStatus->text()).hasMatch(); })) << Text(w.labStatus);
  w.grab().save(QStringLiteral(ORV_UI_SHOT_DIR "/window-queue-in-progress.png"));
  w.tbFtpPath->setText("/size.bin");
  w.cbSize->click();
  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-SIZE OK: /size.bin 12345 bytes"); }));
  EXPECT_TRUE(w.TransferRunning()) << "the size came while the upload still ran";

  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-PUT 2 of 2 OK"); }, std::chrono::seconds(30)));
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles).size() == 3; }));
  EXPECT_EQ(Entries(w.lbFtpFiles), (std::vector<std::string>{"big.bin", "size.bin", "small.txt"}));
  EXPECT_EQ(server.LoginCount(), 2) << "one connection for browsing, one for transfers";
  EXPECT_TRUE(m_oApp.messages.empty());
}

// Files picked with Ctrl go in one queue, one after another; one that
// fails turns the arrow red and the queue goes on; the replace question's
// "No to all" holds for the rest of the queue.
TEST_F(CommandWindow, SeveralPickedFilesGoInOneQueueAndAFailureDoesNotStopIt) {
  FtpTestServer server;
  for (const char* szName : {"a.txt", "b.txt", "c.txt"}) std::ofstream(Local(szName)) << szName;
  W().dlb_Click();
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  w.tbFtpPath->setText("/");
  QListWidget* pLocal = w.lbLocalFiles;
  ASSERT_EQ(Entries(pLocal), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  QTest::mouseClick(pLocal->viewport(), Qt::LeftButton, Qt::NoModifier,
                    pLocal->visualItemRect(pLocal->item(0)).center());
  QTest::mouseClick(pLocal->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    pLocal->visualItemRect(pLocal->item(2)).center());
  ASSERT_EQ(pLocal->selectedItems().size(), 3);
  fs::remove(Local("b.txt"));  // gone before its turn
  w.cbPut->click();
  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-PUT 2 of 3 OK, 1 failed"); }));
  ASSERT_TRUE(PumpUntil([&] { return Entries(w.lbFtpFiles).size() == 2; }));
  EXPECT_EQ(Text(w.labStatus), "FTP-PUT 2 of 3 OK, 1 failed") << "the listing after it keeps the outcome";
  EXPECT_NE(w.labStatus->toolTip().toStdString().find("b.txt: "), std::string::npos) << Text(w.labStatus);
  EXPECT_EQ(Colour(w.cbPut), kRed);
  EXPECT_EQ(server.ReadFile("/a.txt"), "a.txt");
  EXPECT_EQ(server.ReadFile("/c.txt"), "c.txt");
  EXPECT_EQ(CountCommands(server, "STOR "), 2u) << "each file once";
  EXPECT_TRUE(m_oApp.messages.empty()) << "the queue goes on without a box";

  // Both back: the local a.txt exists, "No to all" keeps it and c.txt too,
  // with one question; nothing is fetched.
  w.lbFtpFiles->selectAll();
  m_oApp.eAnswerForEach = AppAnswer::kNoToAll;
  const std::size_t lRetrs = server.Commands().size();
  w.cbGet->click();
  EXPECT_EQ(m_oApp.questions.size(), 1u);
  PumpFor(std::chrono::milliseconds(300));
  for (std::size_t i = lRetrs; i < server.Commands().size(); ++i)
    EXPECT_NE(server.Commands()[i].rfind("RETR", 0), 0u) << server.Commands()[i];
  EXPECT_EQ(ReadLocal(Local("a.txt")), "a.txt");
}

// The transfer connection goes through a queue of small files without the
// window's thread: while that thread is busy (as with a long listing), the
// files keep arriving, each once.
TEST_F(CommandWindow, AQueueGoesOnWhileTheWindowIsBusy) {
  FtpTestServer server;
  constexpr int kFiles = 12;
  for (int i = 0; i < kFiles; ++i) std::ofstream(Local("f" + std::to_string(i) + ".txt")) << "file " << i;
  ASSERT_TRUE(ConnectAndPutAll(server));
  // No events are handled here, as during the window's own long work.
  const auto tGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int iArrived = 0;
  while (iArrived < kFiles && std::chrono::steady_clock::now() < tGiveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    iArrived = 0;
    for (int i = 0; i < kFiles; ++i) iArrived += fs::exists(server.LocalPath("/f" + std::to_string(i) + ".txt"));
  }
  EXPECT_EQ(iArrived, kFiles) << "files that arrived while the window's thread was busy";
  ASSERT_TRUE(
      PumpUntil([&] { return Logged("FTP-PUT " + std::to_string(kFiles) + " of " + std::to_string(kFiles) + " OK"); }));
  EXPECT_EQ(server.ReadFile("/f11.txt"), "file 11");
  EXPECT_EQ(CountCommands(server, "STOR "), static_cast<std::size_t>(kFiles)) << "each file once";
}

// A folder dropped from the file manager onto a node of the remote tree
// goes into that folder with everything in it: subfolders, an empty one, a
// link to a folder elsewhere sent once, a link back into the tree not
// followed, hidden files left out; a folder's files go in the order the
// file list shows, not the file system's. Remote files dropped onto the
// local list are fetched into the folder it shows.
TEST_F(CommandWindow, DroppedFoldersArePutWholeAndDroppedRemoteFilesAreFetched) {
  FtpTestServer server;
  server.MakeFolder("/in");
  server.MakeFolder("/other");
  const std::string sPhotos = Local("photos");
  fs::create_directories(sPhotos + "/sub/deeper");
  fs::create_directories(sPhotos + "/empty");
  fs::create_directories(Local("outside"));
  for (const char* szName : {"a.jpg", "10.jpg", "B.jpg", "2.jpg"}) std::ofstream(sPhotos + "/" + szName) << "a";
  std::ofstream(sPhotos + "/sub/b.jpg") << "b";
  std::ofstream(sPhotos + "/sub/deeper/c.jpg") << "c";
  std::ofstream(sPhotos + "/.hidden") << "h";
  std::ofstream(Local("outside/o.jpg")) << "o";
  fs::create_directory_symlink(sPhotos, sPhotos + "/sub/loop");
  fs::create_directory_symlink(Local("outside"), sPhotos + "/ext");
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  QTreeWidgetItem* pIn = w.FtpNode("/in");
  ASSERT_NE(pIn, nullptr);

  QMimeData oFromDesktop;
  oFromDesktop.setUrls({QUrl::fromLocalFile(QString::fromStdString(sPhotos))});
  // As a drag arrives: it enters the tree below its nodes, where it cannot
  // land, moves onto a folder and drops. The tree must take the entry
  // there, or it would get none of the drag's moves.
  const QPoint oAtIn = w.tvFtpDirs->visualItemRect(pIn).center();
  const QPoint oBelow(oAtIn.x(), w.tvFtpDirs->viewport()->height() - 2);
  ASSERT_EQ(w.tvFtpDirs->itemAt(oBelow), nullptr);
  QDragEnterEvent oEnter(oBelow, Qt::CopyAction, &oFromDesktop, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.tvFtpDirs->viewport(), &oEnter);
  EXPECT_TRUE(oEnter.isAccepted());
  QDragMoveEvent oOverNothing(oBelow, Qt::CopyAction, &oFromDesktop, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.tvFtpDirs->viewport(), &oOverNothing);
  EXPECT_FALSE(oOverNothing.isAccepted()) << "no folder under the pointer";
  QDragMoveEvent oOverIn(oAtIn, Qt::CopyAction, &oFromDesktop, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.tvFtpDirs->viewport(), &oOverIn);
  EXPECT_TRUE(oOverIn.isAccepted());
  QDropEvent oDrop(oAtIn, Qt::CopyAction, &oFromDesktop, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.tvFtpDirs->viewport(), &oDrop);
  EXPECT_TRUE(oDrop.isAccepted());
  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-PUT 7 of 7 OK"); }, std::chrono::seconds(30)));
  std::vector<std::string> vsOrder;
  for (const RecordingApp::LogLine& l : m_oApp.logs)
    if (l.s.rfind("FTP Put " + sPhotos + "/", 0) == 0 && l.s.find('/', sPhotos.size() + 9) == std::string::npos)
      vsOrder.push_back(l.s.substr(sPhotos.size() + 9));
  EXPECT_EQ(vsOrder, (std::vector<std::string>{"2.jpg", "10.jpg", "a.jpg", "B.jpg"}));
  std::vector<std::string> vsSent;
  for (const auto& e : fs::recursive_directory_iterator(server.LocalPath("/in")))
    vsSent.push_back(fs::relative(e.path(), server.LocalPath("/in")).string());
  EXPECT_EQ(Sorted(vsSent),
            (std::vector<std::string>{"photos", "photos/10.jpg", "photos/2.jpg", "photos/B.jpg", "photos/a.jpg",
                                      "photos/empty", "photos/ext", "photos/ext/o.jpg", "photos/sub",
                                      "photos/sub/b.jpg", "photos/sub/deeper", "photos/sub/deeper/c.jpg"}));
  EXPECT_EQ(server.ReadFile("/in/photos/sub/deeper/c.jpg"), "c");
  EXPECT_TRUE(fs::is_empty(server.LocalPath("/other"))) << "only the folder under the pointer";

  server.WriteFile("/other/r.txt", "remote");
  QMimeData oFromServer;
  oFromServer.setData(QStringLiteral("application/x-orvftpuploader-remote-paths"), "/other/r.txt\n");
  const QPoint oAtLocal = w.lbLocalFiles->viewport()->rect().center();
  QDragEnterEvent oEnterLocal(oAtLocal, Qt::CopyAction, &oFromServer, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.lbLocalFiles->viewport(), &oEnterLocal);
  QDropEvent oGet(oAtLocal, Qt::CopyAction, &oFromServer, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.lbLocalFiles->viewport(), &oGet);
  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-GET 1 of 1 OK"); }));
  EXPECT_EQ(ReadLocal(Local("r.txt")), "remote");
  EXPECT_TRUE(m_oApp.messages.empty());
}

// A remote folder, picked by the tree's context menu, comes into the local
// folder with everything in it: three levels, an empty folder, a link to a
// folder elsewhere; a link back up is not walked again. Each file once.
TEST_F(CommandWindow, AFolderOfTheTreeIsFetchedWholeByItsContextMenu) {
  FtpTestServer server;
  server.MakeFolder("/photos/sub/deeper");
  server.MakeFolder("/photos/empty");
  server.MakeFolder("/outside");
  server.WriteFile("/photos/a.jpg", "a");
  server.WriteFile("/photos/sub/b.jpg", "b");
  server.WriteFile("/photos/sub/deeper/c.jpg", "c");
  server.WriteFile("/outside/o.jpg", "o");
  fs::create_directory_symlink("..", server.LocalPath("/photos/sub/up"));
  fs::create_directory_symlink("../outside", server.LocalPath("/photos/ext"));
  W().dlb_Click();
  ASSERT_TRUE(Connect(server));
  frmMain& w = W();
  QTreeWidgetItem* pPhotos = w.FtpNode("/photos");
  ASSERT_NE(pPhotos, nullptr);

  const QPoint oAt = w.tvFtpDirs->visualItemRect(pPhotos).center();
  QContextMenuEvent oMenu(QContextMenuEvent::Mouse, oAt, w.tvFtpDirs->viewport()->mapToGlobal(oAt));
  QApplication::sendEvent(w.tvFtpDirs->viewport(), &oMenu);
  EXPECT_EQ(Text(w.tbFtpPath), "/photos/") << "the folder the menu is for is the one chosen";
  auto* pPopup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(pPopup, nullptr);
  ASSERT_EQ(pPopup->actions().size(), 1);
  EXPECT_EQ(pPopup->actions().front()->text(), QStringLiteral("Get folder"));
  pPopup->actions().front()->trigger();
  pPopup->close();
  ASSERT_TRUE(PumpUntil([&] { return Logged("FTP-GET 4 of 4 OK"); }, std::chrono::seconds(30)));
  std::vector<std::string> vsGot;
  for (const auto& e : fs::recursive_directory_iterator(Local("photos")))
    vsGot.push_back(fs::relative(e.path(), Local("photos")).string());
  EXPECT_EQ(Sorted(vsGot), (std::vector<std::string>{"a.jpg", "empty", "ext", "ext/o.jpg", "sub", "sub/b.jpg",
                                                     "sub/deeper", "sub/deeper/c.jpg", "sub/up"}));
  EXPECT_TRUE(fs::is_empty(Local("photos/sub/up"))) << "the link back up is not walked";
  EXPECT_EQ(ReadLocal(Local("photos/sub/deeper/c.jpg")), "c");
  std::size_t lRetrs = 0;
  for (const std::string& s : server.Commands()) lRetrs += s.rfind("RETR ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(lRetrs, 4u) << "each file once";
  EXPECT_TRUE(m_oApp.messages.empty());
}

}  // namespace
