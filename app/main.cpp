// The program's entry: picks the window platform, starts Qt, hands the
// FTP library's completions to the event loop, and runs Main.
#include <QApplication>
#include <QMetaObject>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "AppFolders.h"
#include "CommandLine.h"
#include "MainAndTerminate.h"
#include "OrvError.h"
#include "OrvFtpLibrary.h"
#include "ProcessMemory.h"
#include "ProductInfo.h"
#include "QtAppUi.h"
#include "QuitSignals.h"
#include "frmMain.h"

namespace {

bool EnvSet(const char* szName) {
  const char* sz = std::getenv(szName);
  return sz != nullptr && *sz != '\0';
}

// The process holds the password in its memory: it writes no core file,
// and (not dumpable) no other process of the same user may read its memory
// or attach to it.
void KeepMemoryToItself() {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
#ifndef ORV_SANITIZED
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

// Start-up failures before a window can exist go to standard error.
[[noreturn]] void FailWithoutWindow(const std::string& sDescription) {
  std::string sText = StartupFailureText(OrvError(OrvError::kComponentLoad, sDescription, "main"));
  for (char& c : sText)
    if (c == '\r') c = '\n';
  std::fprintf(stderr, "%s\n%s\n", ProductInfo::kProductName, sText.c_str());
  EndProcess(2);
}

// Qt ends the process on a fatal message, for example when its platform
// plugin finds no display; that is a start-up failure of the window system.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& sMsg) {
  if (type == QtFatalMsg) FailWithoutWindow(sMsg.toStdString());
  std::fprintf(stderr, "%s\n", sMsg.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  ProcessMemory_KeepFreedMemory();
  KeepMemoryToItself();
  const CommandLineArgs oCommandLine = CommandLine_Read(argc, argv);

  if (!EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY") && !EnvSet("QT_QPA_PLATFORM")) {
    // An alarm run must go out on a machine without a screen, too.
    if (oCommandLine.sText.empty()) FailWithoutWindow("No display: neither DISPLAY nor WAYLAND_DISPLAY is set.");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }

  // Qt sees only the program name: the alarm parameters are ours.
  static int iQtArgc = 1;
  static char* aszQtArgv[] = {argv[0], nullptr};
  QtMessageHandler previous = qInstallMessageHandler(StartupMessageHandler);
  QApplication application(iQtArgc, aszQtArgv);
  qInstallMessageHandler(previous);
  QApplication::setQuitOnLastWindowClosed(false);

  OrvFtpClientSetNotifier([] {
    QMetaObject::invokeMethod(
        qApp, [] { OrvFtpClientPump(); }, Qt::QueuedConnection);
  });

  const std::string sProgramFolder = ProgramFolder();
  QtAppUi ui([&oCommandLine, &sProgramFolder] {
    return std::make_unique<frmMain>(oCommandLine, AppFolders_OutboxFolder(sProgramFolder));
  });
  QuitSignals quitSignals([&ui] {
    if (ui.HasMainWindow()) ui.MainWindow().CloseWindow();
  });

  Main(ui, oCommandLine, sProgramFolder);
  application.exec();
  // The event loop ends only through Terminate; should it ever return, end
  // the same way.
  Terminate();
}
