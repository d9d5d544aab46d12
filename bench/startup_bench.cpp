// Times the program's start-up: from the moment the process was started
// until the main window is shown, and until it was first painted. The
// program is brought up exactly as its entry does it (Qt, the completion
// pump, the window factory, Main with Prolog), an interactive start with the
// settings file in PROGRAM_FOLDER. The caller passes the monotonic clock
// reading taken right before it started this process, in nanoseconds, so
// that loading the program and its libraries counts as well.
//
//   startup_bench START_NS PROGRAM_FOLDER
//
// Prints "shown SECONDS painted SECONDS" and ends the process.
#include <QApplication>
#include <QEvent>
#include <QMetaObject>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "MainAndTerminate.h"
#include "OrvFtpLibrary.h"
#include "QtAppUi.h"
#include "frmMain.h"

namespace {

long long MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Notes the window's first show and first paint, then ends the process.
class FirstShow : public QObject {
 public:
  explicit FirstShow(long long llStartNs) : m_llStartNs(llStartNs) {}

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
    if (pEvent->type() == QEvent::Show && m_llShownNs == 0) m_llShownNs = MonotonicNs();
    if (pEvent->type() == QEvent::Paint && m_llShownNs != 0 && !m_bPainted) {
      m_bPainted = true;
      // After the paint has finished.
      QMetaObject::invokeMethod(
          this,
          [this] {
            const long long llPaintedNs = MonotonicNs();
            std::printf("shown %.6f painted %.6f\n", (m_llShownNs - m_llStartNs) / 1e9,
                        (llPaintedNs - m_llStartNs) / 1e9);
            EndProcess(0);
          },
          Qt::QueuedConnection);
    }
    return QObject::eventFilter(pWatched, pEvent);
  }

 private:
  long long m_llStartNs;
  long long m_llShownNs = 0;
  bool m_bPainted = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s START_NS PROGRAM_FOLDER\n", argv[0]);
    return 2;
  }
  const long long llStartNs = std::atoll(argv[1]);
  const std::string sProgramFolder = argv[2];
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  static int iQtArgc = 1;
  static char* aszQtArgv[] = {argv[0], nullptr};
  QApplication application(iQtArgc, aszQtArgv);
  QApplication::setQuitOnLastWindowClosed(false);
  OrvFtpClientSetNotifier([] {
    QMetaObject::invokeMethod(
        qApp, [] { OrvFtpClientPump(); }, Qt::QueuedConnection);
  });

  FirstShow firstShow(llStartNs);
  QtAppUi ui([&firstShow] {
    auto pWindow = std::make_unique<frmMain>("");
    pWindow->installEventFilter(&firstShow);
    return pWindow;
  });
  Main(ui, "", sProgramFolder);
  application.exec();
  return 1;
}
