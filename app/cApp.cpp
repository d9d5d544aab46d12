#include "cApp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "AppFolders.h"
#include "AppUi.h"
#include "AppWindow.h"
#include "CommandLine.h"
#include "DateAndTime.h"
#include "MainAndTerminate.h"
#include "OrvError.h"
#include "OrvFtpClient.h"
#include "ProductInfo.h"
#include "RunLog.h"
#include "cStringList.h"

namespace {

const char kSettingsKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

std::string ReplaceAll(std::string s, const std::string& sFind, const std::string& sReplace) {
  std::size_t p = 0;
  while ((p = s.find(sFind, p)) != std::string::npos) {
    s.replace(p, sFind.size(), sReplace);
    p += sReplace.size();
  }
  return s;
}

std::string MessageHeader(long m, const std::string& sModule) {
  if (sModule.empty()) return "";
  switch (m) {
    case 0: return "Hinweis von Modul '" + sModule + "':\r";
    case 1: return "Warnhinweis von Modul '" + sModule + "':\r";
    case 2:
    case 3: return "Fehlermeldung von Modul '" + sModule + "':\r";
    default: return sModule;
  }
}

// The exit status of an unattended run whose alarm is neither delivered nor
// kept.
constexpr int kAlarmLostStatus = 3;

// The type of a message's log entry, which Msg puts together itself.
constexpr long kMessageEntry = 4;

// Appends one entry; the file is opened for each line and never rewritten.
// 0, or the errno value of the failure.
int AppendToFile(const std::string& sFileName, const std::string& sLine) {
  int fd = ::open(sFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  std::size_t lDone = 0;
  int iError = 0;
  while (lDone < sLine.size()) {
    ssize_t n = ::write(fd, sLine.data() + lDone, sLine.size() - lDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      iError = errno;
      break;
    }
    lDone += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && iError == 0) iError = errno;
  return iError;
}

}  // namespace

cApp::cApp(AppUi& ui, CommandLineArgs oCommandLine, std::string sProgramFolder)
    : m_ui(ui),
      m_sCommandLine(std::move(oCommandLine.sText)),
      m_sMaskedCommandLine(std::move(oCommandLine.sMasked)),
      m_sProgramFolder(std::move(sProgramFolder)) {}

cApp::~cApp() = default;

std::string cApp::SettingsFileName() const { return AppFolders_SettingsFile(m_sProgramFolder); }

void cApp::Prolog() {
  m_lStatus = 0;
  // The stamp is the run's own from here on: its log file, made now, holds it.
  m_sStartUtc = DAT_GetUtcTimeStamp();
  try {
    const std::string sFolder = AppFolders_LogFolder(m_sProgramFolder);
    m_sStartUtc = RunLog_ClaimStamp(sFolder, m_sStartUtc);
    m_sLogFile = sFolder + "/" + m_sStartUtc + ".log";
  } catch (...) {
    // Without a log the run goes on under the clock's stamp, as Log does.
  }
  FTP_Init();
  Log(std::string(ProductInfo::kProductName) + " Ver. " + std::to_string(ProductInfo::kVersionMajor) + "." +
          std::to_string(ProductInfo::kVersionMinor) + "." + std::to_string(ProductInfo::kVersionRevision) +
          " starting with local PWD=" + m_sProgramFolder,
      0);
  Log("CommandLine=" + m_sMaskedCommandLine, 0);

  m_oSettings = std::make_unique<cStringList>();
  m_oSettings->SetKey(kSettingsKey);
  m_oSettings->Load(SettingsFileName(), true);

  // The first reference creates the window and runs its load handler, so
  // values from the command line are in the fields before they are read.
  AppWindow& window = m_ui.MainWindow();
  if (window.FtpUrlText().empty()) window.SetFtpUrlText(m_oSettings->GetValue("ftpurl", ""));
  if (window.FtpUsrText().empty()) window.SetFtpUsrText(m_oSettings->GetValue("ftpusr", ""));
  if (window.FtpPwdText().empty()) window.SetFtpPwdText(m_oSettings->GetValue("ftppwd", ""));

  m_lStatus = 1;
  window.ShowWindow();
}

void cApp::Epilog() {
  m_lStatus = 2;
  try {
    AppWindow& window = m_ui.MainWindow();
    m_oSettings->SetValue("ftpurl", window.FtpUrlText());
    m_oSettings->SetValue("ftpusr", window.FtpUsrText());
    m_oSettings->SetValue("ftppwd", window.FtpPwdText());
    // Settings as they were loaded stay as they are on disk: an end on a
    // full disk, or beside another run's end, has nothing to write.
    if (m_oSettings->Changed()) m_oSettings->Store("");
  } catch (const OrvError& err) {
    // The old settings file is still intact; say why the new one is not.
    m_bSettingsFailed = true;
    Msg(2, "cApp.Epilog", "?", "", &err);
    FTP_Shutdown();
    return;
  }
  FTP_Shutdown();
  Log("terminated normally", 0);
}

void cApp::Msg(long m, const std::string& sModule, const std::string& sMsgIn, const std::string& sActionIn,
               const OrvError* pErr, const std::string& sAddInfo) {
  m_bMsgRaised = true;
  std::string sMsg = sMsgIn;
  std::string sAction = sActionIn;
  if (sMsg == "?") {
    sMsg = "Unerwarteter Fehler Nr. " + std::to_string(pErr ? pErr->Number() : 0) + ": " +
           (pErr ? pErr->Description() : std::string()) + " in " + (pErr ? pErr->Source() : std::string());
  }
  if (sAction == "?") sAction = std::string("Bitte melden Sie den Fehler an ") + ProductInfo::kSupportEmail;
  if (!sAction.empty()) sAction += "!";
  // The log line holds the parts escaped, with "\r" between them.
  std::string sLogMsg = RunLog_Escaped(sMsg);
  if (!sAddInfo.empty()) {
    sMsg += "\r" + sAddInfo;
    sLogMsg += "\r" + RunLog_Escaped(sAddInfo);
  }
  std::string sHeader = MessageHeader(m, sModule);

  Log(ReplaceAll(MessageHeader(m, RunLog_Escaped(sModule)), ":\r", ": ") + sLogMsg + "\r" + RunLog_Escaped(sAction),
      kMessageEntry);

  if (!Unattended()) {
    MsgBox(sMsg + "\r\r" + sAction, std::string(ProductInfo::kProductName) + " - " + ReplaceAll(sHeader, ":\r", ""));
  } else {
    m_ui.MainWindow().SetAutoTimer("bye", 500);
  }
  if (m == 3) EndProcess(1);
}

void cApp::Log(const std::string& s, long eTyp) {
  if (eTyp == 22 || eTyp == 13) return;
  try {
    if (m_sLogFile.empty()) {
      std::string sFolder = AppFolders_LogFolder(m_sProgramFolder);
      struct stat st {};
      if (::stat(sFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) ::mkdir(sFolder.c_str(), 0700);
      m_sLogFile = sFolder + "/" + StartUtc() + ".log";
    }
    const std::string sText = eTyp == kMessageEntry ? s : RunLog_Escaped(s);
    const int iError = AppendToFile(m_sLogFile, DAT_GetLocalTimeText() + ": " + sText + "\r\n");
    if (iError != 0 && !m_bLogFailureSaid) {
      // The log never disturbs the program, and a message would only log
      // again; the caller still learns that it has no log to look into.
      m_bLogFailureSaid = true;
      std::fprintf(stderr, "%s: the log %s cannot be written: %s\n", ProductInfo::kProductName, m_sLogFile.c_str(),
                   std::strerror(iError));
    }
  } catch (...) {
    // The log never disturbs the program; a message would only log again.
  }
}

void cApp::Progress(long, long) {}

void cApp::MsgBox(const std::string& sText, const std::string& sTitle) { m_ui.ShowMessageBox(sText, sTitle); }

bool cApp::Ask(const std::string& sQuestion, const std::string& sTitle) {
  // An automatic run has nobody to answer; it takes the safe answer.
  if (Unattended()) return false;
  return m_ui.AskQuestion(sQuestion, sTitle);
}

AppAnswer cApp::AskForEach(const std::string& sQuestion, const std::string& sTitle) {
  if (Unattended()) return AppAnswer::kNo;
  return m_ui.AskQuestionForEach(sQuestion, sTitle);
}

void cApp::NoteAlarmUndelivered(bool bKept) {
  m_bAlarmUndelivered = true;
  if (bKept || m_bAlarmLost) return;
  m_bAlarmLost = true;
  std::fprintf(stderr, "%s: the alarm was neither delivered nor kept in the outbox; see the log %s\n",
               ProductInfo::kProductName, m_sLogFile.c_str());
}

int cApp::ExitStatus() const {
  if (Unattended() && m_bAlarmLost) return kAlarmLostStatus;
  if (m_bSettingsFailed) return 1;
  if (Unattended() && (m_bMsgRaised || m_bAlarmUndelivered)) return 1;
  return 0;
}
