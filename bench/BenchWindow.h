#pragma once

// What the drivers that run the real main window share: the application
// with the FTP client's completions pumped on its thread, a wait on the
// event loop, and the window connected with its Connect command.

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMetaObject>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "BenchSupport.h"
#include "OrvFtpClient.h"
#include "ProcessMemory.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"

namespace bench {

// QApplication on the offscreen platform unless one is set, with the FTP
// client's completions run on its thread; the allocator set as the
// program's main sets it.
class WindowApplication {
 public:
  explicit WindowApplication(char* szProgram) : m_aszArgv{szProgram, nullptr}, m_app(Platform(m_iArgc), m_aszArgv) {
    OrvFtpClientSetNotifier([] {
      QMetaObject::invokeMethod(
          qApp, [] { OrvFtpClientPump(); }, Qt::QueuedConnection);
    });
  }

 private:
  static int& Platform(int& iArgc) {
    ProcessMemory_KeepFreedMemory();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return iArgc;
  }
  int m_iArgc = 1;
  char* m_aszArgv[2];
  QApplication m_app;
};

// Runs the event loop until fnDone holds or the time is up. It sleeps
// between events, as the program's own loop does, so that the server and
// the connection's worker have the processor to themselves meanwhile.
inline bool ProcessUntil(const std::function<bool()>& fnDone, std::chrono::seconds timeout) {
  bool bTimedOut = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [&bTimedOut] { bTimedOut = true; });
  deadline.start(timeout);
  while (!fnDone() && !bTimedOut) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return fnDone();
}

inline std::string StatusText(const frmMain& w) { return w.labStatus->text().toStdString(); }

// Shows the window with the server's text, user and password filled in.
inline void ShowWindow(frmMain& w, const std::string& sServer, const std::string& sUser, const std::string& sPassword) {
  w.Load();
  w.show();
  QCoreApplication::processEvents();
  w.SetFtpUrlText(sServer);
  w.SetFtpUsrText(sUser);
  w.SetFtpPwdText(sPassword);
}

// Connect, as a click on it; true once the root's listing has arrived.
inline bool ConnectWindow(frmMain& w) {
  w.cbConnect_Click();
  if (ProcessUntil([&] { return StatusText(w).rfind("FTP-DIR", 0) == 0; }, std::chrono::seconds(60)) &&
      StatusText(w) == "FTP-DIR OK")
    return true;
  std::fprintf(stderr, "connect: %s\n", StatusText(w).c_str());
  return false;
}

// Clicks a remote folder's node in the tree, as a user does, and times its
// listing as the window handles it: from the click until the window's own
// directory handler has filled the tree and the file list, and the share of
// that handler. Other events that the same turn of the loop runs after the
// handler (a transfer's completions, say) are not the listing's.
struct ListingTimes {
  bool bDone = false;
  double dFilled = 0;
  double dHandler = 0;
};

inline ListingTimes ClickAndTimeListing(frmMain& w, QTreeWidgetItem* pNode, std::chrono::seconds timeout) {
  ListingTimes times;
  Clock::time_point tEvent, tFilled;
  const auto fnWindowHandler = w.FtpClient()->DirEvent;
  w.FtpClient()->DirEvent = [&](const std::string& sDirList, const std::string& sRequestID, long lErrCode) {
    tEvent = Clock::now();
    fnWindowHandler(sDirList, sRequestID, lErrCode);
    tFilled = Clock::now();
    times.bDone = true;
  };
  const Clock::time_point t0 = Clock::now();
  w.tvFtpDirs_NodeClick(pNode);
  ProcessUntil([&] { return times.bDone; }, timeout);
  w.FtpClient()->DirEvent = fnWindowHandler;
  times.dFilled = std::chrono::duration<double>(tFilled - t0).count();
  times.dHandler = std::chrono::duration<double>(tFilled - tEvent).count();
  return times;
}

}  // namespace bench
