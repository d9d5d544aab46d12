// Times a whole folder moved by the real main window, offscreen, as a drop
// or a folder's context menu moves it: the window connects with its Connect
// command, then puts a local folder into a remote one, or gets a remote
// folder into a local one, and the process ends when the queue has ended.
// bench/run times the whole process, as it times lftp's.
//
//   folder_bench HOST PORT USER PASSWORD put LOCAL_FOLDER REMOTE_FOLDER
//   folder_bench HOST PORT USER PASSWORD get REMOTE_FOLDER LOCAL_FOLDER
//   folder_bench HOST PORT USER PASSWORD browse LOCAL_FOLDER REMOTE_FOLDER BIG FILES
//
// REMOTE_FOLDER is absolute and ends with "/" ("/in/"). Browse puts the
// folder and, as soon as the put has started, lists the login folder's
// folder BIG (which holds FILES files) in the window, as a user browses
// meanwhile; it prints how long the listing took from its click until the
// window's directory handler had filled the tree and the list, timed as
// listing_bench times it, and how long the put took.
#include <QListWidget>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"

namespace {

// The queue's last line in the log: "FTP-PUT 1000 of 1000 OK" and the like.
// The log is read on from where the last look ended, so that waiting for
// the end costs the same at the thousandth file as at the first.
class QueueEnd {
 public:
  QueueEnd(const bench::BenchApp& app, std::string sCommand) : m_app(app), m_sCommand(std::move(sCommand)) {}
  const std::string* operator()() {
    for (; m_lSeen < m_app.vsLog.size(); ++m_lSeen) {
      const std::string& s = m_app.vsLog[m_lSeen];
      if (s.rfind(m_sCommand + " ", 0) == 0 && s.find(" OK") != std::string::npos && s.find(':') == std::string::npos)
        return &s;
    }
    return nullptr;
  }

 private:
  const bench::BenchApp& m_app;
  const std::string m_sCommand;
  std::size_t m_lSeen = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string sMode = argc > 5 ? argv[5] : "";
  if (!((argc == 8 && (sMode == "put" || sMode == "get")) || (argc == 10 && sMode == "browse"))) {
    std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD put|get|browse FROM TO [BIG FILES]\n", argv[0]);
    return 2;
  }
  const std::string sHost = argv[1], sPort = argv[2], sUser = argv[3], sPassword = argv[4];
  const std::string sFrom = argv[6], sTo = argv[7];
  bench::WindowApplication application(argv[0]);

  bench::BenchApp app;
  int iStatus = 0;
  {
    frmMain w;
    bench::ShowWindow(w, sHost + ":" + sPort, sUser, sPassword);
    if (!bench::ConnectWindow(w)) iStatus = 1;
    const std::string sCommand = sMode == "get" ? "FTP-GET" : "FTP-PUT";
    const bench::Clock::time_point t0 = bench::Clock::now();
    if (iStatus == 0) {
      if (sMode == "get") w.GetRemotePaths({sFrom}, sTo);
      else w.PutLocalPaths({sFrom}, sTo);
    }
    double dListing = 0;
    double dHandler = 0;
    if (iStatus == 0 && sMode == "browse") {
      QTreeWidgetItem* pNode = w.FtpNode("/" + std::string(argv[8]));
      const int iFiles = std::atoi(argv[9]);
      if (pNode == nullptr) {
        std::fprintf(stderr, "no folder %s in the login folder\n", argv[8]);
        iStatus = 1;
      } else {
        // Once the put's first file is on its way.
        bench::ProcessUntil([&] { return w.TransferRunning(); }, std::chrono::seconds(30));
        w.tvFtpDirs->setCurrentItem(pNode);
        const bench::ListingTimes times = bench::ClickAndTimeListing(w, pNode, std::chrono::seconds(120));
        if (!times.bDone || w.lbFtpFiles->count() != iFiles) {
          std::fprintf(stderr, "listing: %d files, status %s\n", w.lbFtpFiles->count(), bench::StatusText(w).c_str());
          iStatus = 1;
        }
        dListing = times.dFilled;
        dHandler = times.dHandler;
      }
    }
    if (iStatus == 0) {
      QueueEnd queueEnd(app, sCommand);
      const std::string* pEnd = nullptr;
      if (!bench::ProcessUntil([&] { return (pEnd = queueEnd()) != nullptr; }, std::chrono::seconds(600))) {
        std::fprintf(stderr, "%s: no end, status %s\n", sCommand.c_str(), bench::StatusText(w).c_str());
        iStatus = 1;
      } else if (pEnd->find("failed") != std::string::npos || pEnd->find("cancelled") != std::string::npos) {
        std::fprintf(stderr, "%s\n", pEnd->c_str());
        iStatus = 1;
      } else {
        std::printf("%s seconds %.6f", pEnd->c_str(), bench::SecondsSince(t0));
        if (sMode == "browse") std::printf(" listing %.6f handler %.6f", dListing, dHandler);
        std::printf("\n");
      }
    }
    w.cbDisconnect_Click();
    QCoreApplication::processEvents();
  }
  FTP_Shutdown();
  if (iStatus != 0) app.PrintTo(stderr);
  return iStatus;
}
