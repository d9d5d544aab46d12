// Times a remote folder listing in the real main window, offscreen: connect
// with the Connect command, pick the folder's node in the tree and click it,
// as a user does. One run is the time from the click (the listing request)
// until the directory event has filled the tree and the file list, and until
// the window has been painted with them; the time the window's event handler
// took of it is told too. Between runs the window
// disconnects, which empties the tree.
//
//   listing_bench HOST PORT USER PASSWORD FOLDER RUNS FOLDERS FILES
//
// FOLDER is a folder in the login folder that holds FOLDERS folders and
// FILES files; every run checks that the tree and the list show them all.
#include <QListWidget>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD FOLDER RUNS FOLDERS FILES\n", argv[0]);
    return 2;
  }
  const std::string sHost = argv[1], sPort = argv[2], sUser = argv[3], sPassword = argv[4], sFolder = argv[5];
  const int iRuns = std::atoi(argv[6]);
  const int iFolders = std::atoi(argv[7]);
  const int iFiles = std::atoi(argv[8]);
  bench::WindowApplication application(argv[0]);

  bench::BenchApp app;
  int iStatus = 0;
  {
    frmMain w;
    bench::ShowWindow(w, sHost + ":" + sPort, sUser, sPassword);

    for (int iRun = 0; iRun < iRuns && iStatus == 0; ++iRun) {
      if (!bench::ConnectWindow(w)) {
        iStatus = 1;
        break;
      }
      QTreeWidgetItem* pNode = w.FtpNode("/" + sFolder);
      if (pNode == nullptr) {
        std::fprintf(stderr, "no folder %s in the login folder\n", sFolder.c_str());
        iStatus = 1;
        break;
      }
      w.tvFtpDirs->setCurrentItem(pNode);
      QCoreApplication::processEvents();

      const bench::Clock::time_point t0 = bench::Clock::now();
      const bench::ListingTimes times = bench::ClickAndTimeListing(w, pNode, std::chrono::seconds(120));
      if (!times.bDone) {
        std::fprintf(stderr, "listing: no answer\n");
        iStatus = 1;
        break;
      }
      // Whatever the views deferred (item layout) runs now, then one paint.
      QCoreApplication::processEvents();
      w.repaint();
      const double dPainted = bench::SecondsSince(t0);

      if (bench::StatusText(w) != "FTP-DIR OK" || pNode->childCount() != iFolders || w.lbFtpFiles->count() != iFiles) {
        std::fprintf(stderr, "listing: status %s, %d folders, %d files\n", bench::StatusText(w).c_str(),
                     pNode->childCount(), w.lbFtpFiles->count());
        iStatus = 1;
        break;
      }
      std::printf("run %d filled %.6f painted %.6f handler %.6f\n", iRun + 1, times.dFilled, dPainted, times.dHandler);
      std::fflush(stdout);
      w.cbDisconnect_Click();
      QCoreApplication::processEvents();
    }
  }
  FTP_Shutdown();
  if (iStatus != 0) app.PrintTo(stderr);
  return iStatus;
}
