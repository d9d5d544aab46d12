#pragma once

#include <memory>
#include <string>

#include "AppChannel.h"
#include "CommandLine.h"

class AppUi;
class cStringList;

// The application object: life cycle, messages to the user, the run's log.
class cApp : public AppChannel {
 public:
  // oCommandLine is the command line the program was started with (its
  // text, empty for none, is what CommandLine gives); sProgramFolder the
  // folder that holds the program file.
  cApp(AppUi& ui, CommandLineArgs oCommandLine, std::string sProgramFolder);
  ~cApp() override;

  void Prolog();
  void Epilog();

  std::string StartUtc() const override { return m_sStartUtc; }
  long Status() const override { return m_lStatus; }

  void Msg(long m, const std::string& sModule, const std::string& sMsg = "", const std::string& sAction = "",
           const OrvError* pErr = nullptr, const std::string& sAddInfo = "") override;
  // Appends s as one line to the run's log, with control characters escaped
  // (see RunLog_Escaped): values and server replies reach the log through
  // here, and none can end a line or make one of its own. Entries of type
  // 13 and 22 are dropped. An entry of type 4 is a message's, which Msg
  // puts together from escaped parts with "\r" between them, and is written
  // as it is. The first line that cannot be written is said once on
  // standard error.
  void Log(const std::string& s, long eTyp) override;
  void Progress(long lVal = 0, long lMax = 0);
  void MsgBox(const std::string& sText, const std::string& sTitle) override;
  bool Ask(const std::string& sQuestion, const std::string& sTitle) override;
  AppAnswer AskForEach(const std::string& sQuestion, const std::string& sTitle) override;

  const std::string& CommandLine() const { return m_sCommandLine; }
  const std::string& ProgramFolder() const { return m_sProgramFolder; }
  std::string SettingsFileName() const;
  AppUi& Ui() { return m_ui; }

  // An unattended run ends without having delivered its alarm, which it
  // keeps for a later run; bKept false when some of what it did not
  // deliver could not be kept either, which standard error is told.
  void NoteAlarmUndelivered(bool bKept = true);

  // The process exit status a normal end reports: 3 when an unattended run
  // neither delivered nor kept (some of) its alarm; 1 when it raised a
  // message or did not deliver its alarm, or the settings could not be
  // stored; else 0.
  int ExitStatus() const;

 private:
  bool Unattended() const { return !m_sCommandLine.empty(); }

  AppUi& m_ui;
  std::string m_sCommandLine;
  std::string m_sMaskedCommandLine;
  std::string m_sProgramFolder;

  std::string m_sStartUtc;
  long m_lStatus = 0;
  std::unique_ptr<cStringList> m_oSettings;
  std::string m_sLogFile;
  bool m_bLogFailureSaid = false;

  bool m_bMsgRaised = false;
  bool m_bAlarmUndelivered = false;
  bool m_bAlarmLost = false;
  bool m_bSettingsFailed = false;
};
