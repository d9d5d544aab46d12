#include "MainAndTerminate.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "AppUi.h"
#include "OrvError.h"
#include "ProductInfo.h"
#include "cApp.h"

std::unique_ptr<cApp> g_oApp;

namespace {
constexpr int kStartupFailureStatus = 2;
}

std::string StartupFailureText(const OrvError& err) {
  std::string sSupport = std::string("Bitte wenden Sie sich per Email an ") + ProductInfo::kSupportEmail +
                         "\roder telefonisch an " + ProductInfo::kSupportPhone;
  if (err.Number() == OrvError::kComponentLoad) {
    return "Diese Anwendung kann nicht gestartet werden, weil eine ActiveX-Komponente fehlt oder nicht aktuell ist."
           "\r\r" +
           err.Description() + "\r\r" + sSupport;
  }
  return "Fehler-Code " + std::to_string(err.Number()) + ":\r" + err.Description() + "\r\r" + sSupport;
}

void Main(AppUi& ui, const CommandLineArgs& oCommandLine, const std::string& sProgramFolder) {
  try {
    g_oApp = std::make_unique<cApp>(ui, oCommandLine, sProgramFolder);
    OrvApp_Set(g_oApp.get());
    g_oApp->Prolog();
  } catch (const OrvError& err) {
    ui.ShowMessageBox(StartupFailureText(err), ProductInfo::kProductName);
    EndProcess(kStartupFailureStatus);
  } catch (const std::exception& e) {
    OrvError err(OrvError::kInvalidCall, e.what(), "Main");
    ui.ShowMessageBox(StartupFailureText(err), ProductInfo::kProductName);
    EndProcess(kStartupFailureStatus);
  }
}

void Terminate() {
  g_oApp->Epilog();
  int iStatus = g_oApp->ExitStatus();
  OrvApp_Set(nullptr);
  // Nothing of the application runs after this point: no window is closed
  // and no object is torn down one by one.
  g_oApp.reset();
  EndProcess(iStatus);
}

void EndProcess(int iStatus) {
  std::fflush(nullptr);
  std::_Exit(iStatus);
}

std::string ProgramFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec).string();
  std::string sFolder = exe.parent_path().string();
  return sFolder.empty() ? "/" : sFolder;
}
