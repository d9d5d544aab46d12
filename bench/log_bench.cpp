// Times the application's log: one cApp brought up as the program brings it
// up (Prolog), then LINES log lines written one after another to its log
// file. Prints the mean cost per line of each block of BLOCK lines, so that
// the first and the last block can be compared.
//
//   log_bench PROGRAM_FOLDER [LINES [BLOCK]]
//
// PROGRAM_FOLDER must hold an (empty) OrvFtpUploader.cfg; the log goes to
// its log/ folder.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "AppUi.h"
#include "AppWindow.h"
#include "BenchSupport.h"
#include "OrvFtpClient.h"
#include "cApp.h"

namespace {

// A window that only keeps its field texts: the log needs no screen.
class TextOnlyWindow : public AppWindow {
 public:
  void Load() override {}
  std::string FtpUrlText() override { return m_sUrl; }
  void SetFtpUrlText(const std::string& s) override { m_sUrl = s; }
  std::string FtpUsrText() override { return m_sUsr; }
  void SetFtpUsrText(const std::string& s) override { m_sUsr = s; }
  std::string FtpPwdText() override { return m_sPwd; }
  void SetFtpPwdText(const std::string& s) override { m_sPwd = s; }
  void SetAutoTimer(const std::string&, long) override {}
  void ShowWindow() override {}
  void CloseWindow() override {}

 private:
  std::string m_sUrl, m_sUsr, m_sPwd;
};

class TextOnlyUi : public AppUi {
 public:
  void ShowMessageBox(const std::string& sText, const std::string&) override {
    std::fprintf(stderr, "message: %s\n", sText.c_str());
  }
  bool AskQuestion(const std::string&, const std::string&) override { return false; }
  AppWindow& MainWindow() override { return m_window; }
  bool HasMainWindow() const override { return true; }

 private:
  TextOnlyWindow m_window;
};

long CountLines(const std::string& sFile) {
  std::ifstream in(sFile, std::ios::binary);
  long n = 0;
  for (std::string s; std::getline(in, s);) ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROGRAM_FOLDER [LINES [BLOCK]]\n", argv[0]);
    return 2;
  }
  const std::string sFolder = argv[1];
  const long lLines = argc > 2 ? std::atol(argv[2]) : 100000;
  const long lBlock = argc > 3 ? std::atol(argv[3]) : 10000;
  if (lLines <= 0 || lBlock <= 0 || lLines % lBlock != 0) {
    std::fprintf(stderr, "LINES must be a positive multiple of BLOCK\n");
    return 2;
  }

  TextOnlyUi ui;
  cApp app(ui, "", sFolder);
  OrvApp_Set(&app);
  try {
    app.Prolog();
  } catch (const OrvError& e) {
    std::fprintf(stderr, "Prolog: %s\n", e.Description().c_str());
    return 1;
  }
  const std::string sLogFile = sFolder + "/log/" + app.StartUtc() + ".log";
  const long lBefore = CountLines(sLogFile);

  // A line as the FTP layer writes them, with a number that changes.
  const std::string sText = "FTP connection 1: request bench failed with 550: STOR /in/file-";
  for (long lDone = 0; lDone < lLines;) {
    const bench::Clock::time_point t0 = bench::Clock::now();
    for (long i = 0; i < lBlock; ++i, ++lDone) app.Log(sText + std::to_string(lDone) + " -> 550 refused", 24);
    const double dSeconds = bench::SecondsSince(t0);
    std::printf("block %ld %.6f\n", lDone, dSeconds * 1e6 / static_cast<double>(lBlock));
  }
  FTP_Shutdown();
  OrvApp_Set(nullptr);

  const long lWritten = CountLines(sLogFile) - lBefore;
  if (lWritten != lLines) {
    std::fprintf(stderr, "the log holds %ld new lines, not %ld\n", lWritten, lLines);
    return 1;
  }
  std::printf("lines %ld\n", lWritten);
  return 0;
}
