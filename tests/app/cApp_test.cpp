#include "cApp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "LibOrv.h"
#include "MainAndTerminate.h"
#include "OrvError.h"
#include "RecordingUi.h"
#include "TempFolder.h"
#include "cSEC.h"
#include "cStringList.h"

namespace {

const char kSettingsKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

// An application in its own program folder with an empty settings file,
// brought up by Prolog as the program does.
class AppTest : public ::testing::Test {
 protected:
  void Start(const std::string& sCommandLine = "") {
    if (!std::filesystem::exists(CfgPath())) std::ofstream(CfgPath()).close();
    app = std::make_unique<cApp>(ui, sCommandLine, folder.Path());
    OrvApp_Set(app.get());
    app->Prolog();
  }
  void TearDown() override { OrvApp_Set(nullptr); }

  std::string CfgPath() const { return folder.Path() + "/OrvFtpUploader.cfg"; }
  std::string LogPath() const { return folder.Path() + "/log/" + app->StartUtc() + ".log"; }
  std::string LogText() const { return LibOrv_ReadFile(LogPath()); }
  // The log's entries without their time stamps.
  std::vector<std::string> LogEntries() const {
    std::vector<std::string> entries;
    std::string s = LogText();
    std::size_t p = 0;
    while (p < s.size()) {
      std::size_t e = s.find("\r\n", p);
      std::string sLine = s.substr(p, e - p);
      EXPECT_EQ(sLine.substr(23, 2), ": ") << sLine;
      entries.push_back(sLine.substr(25));
      p = e + 2;
    }
    return entries;
  }

  TempFolder folder;
  RecordingUi ui;
  std::unique_ptr<cApp> app;
};

TEST_F(AppTest, PrologLogsTheStartLinesAndFillsEmptyFields) {
  cStringList settings;
  settings.SetKey(kSettingsKey);
  settings.SetValue("ftpurl", "stored.example");
  settings.SetValue("ftpusr", "storeduser");
  settings.SetValue("ftppwd", "storedpwd");
  settings.Store(CfgPath());
  ui.window.onLoad = [](RecordingWindow& w) { w.sUrl = "from.command.line"; };

  Start("ftpurl=from.command.line ftppwd=topsecret");
  EXPECT_EQ(app->Status(), 1);
  EXPECT_EQ(app->StartUtc().size(), 17u);
  EXPECT_EQ(ui.window.iLoads, 1);
  EXPECT_EQ(ui.window.iShows, 1);
  EXPECT_EQ(ui.window.sUrl, "from.command.line");
  EXPECT_EQ(ui.window.sUsr, "storeduser");
  EXPECT_EQ(ui.window.sPwd, "storedpwd");

  auto entries = LogEntries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[0], "OrvFtpUploader Ver. 1.1.3 starting with local PWD=" + folder.Path());
  EXPECT_EQ(entries[1], "CommandLine=ftpurl=from.command.line ftppwd=***");
  EXPECT_EQ(LogText().find("topsecret"), std::string::npos);
}

TEST_F(AppTest, LogFolderAndFileAreOwnerOnly) {
  Start();
  struct stat st {};
  ASSERT_EQ(::stat((folder.Path() + "/log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(LogPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(AppTest, LogDropsTypes13And22AndAppendsEveryOther) {
  Start();
  std::size_t lBefore = LogEntries().size();
  app->Log("dropped", 13);
  app->Log("dropped", 22);
  app->Log("kept 24", 24);
  app->Log("kept 99", 99);
  app->Log("with\rCR", 4);
  auto entries = LogEntries();
  ASSERT_EQ(entries.size(), lBefore + 3);
  EXPECT_EQ(entries[lBefore], "kept 24");
  EXPECT_EQ(entries[lBefore + 1], "kept 99");
  EXPECT_EQ(entries[lBefore + 2], "with\rCR");
}

// A value or a server reply with line breaks in it cannot make a line of
// its own: control characters are written escaped. A message keeps the
// "\r" between its parts.
TEST_F(AppTest, ControlCharactersInValuesAndRepliesCannotForgeLogLines) {
  const std::string sForged = "\r\n01.01.2026 00:00:00.000: FTP-PUT OK";
  Start("msg='x" + sForged + "' ftpusr=a\tb\x01\x7f");
  app->Log("530 no" + sForged, 24);
  app->Msg(1, "FTP-PUT\n", "File doesnt exist: /in/a" + sForged, "", nullptr, "more\r");
  const std::vector<std::string> entries = LogEntries();
  ASSERT_EQ(entries.size(), 4u) << LogText();
  const std::string sEscaped = "\\r\\n01.01.2026 00:00:00.000: FTP-PUT OK";
  EXPECT_EQ(entries[1], "CommandLine=msg='x" + sEscaped + "' ftpusr=a\\tb\\x01\\x7f");
  EXPECT_EQ(entries[2], "530 no" + sEscaped);
  EXPECT_EQ(entries[3], "Warnhinweis von Modul 'FTP-PUT\\n': File doesnt exist: /in/a" + sEscaped + "\rmore\\r\r");
}

TEST_F(AppTest, UnwritableLogFolderLeavesTheProgramRunningSilently) {
  // A plain file where the log folder should be: nothing can be logged.
  std::ofstream(folder.Path() + "/log").close();
  Start();
  app->Log("lost", 0);
  app->Msg(1, "M", "still running");
  EXPECT_EQ(app->Status(), 1);
  EXPECT_EQ(ui.boxes.size(), 1u);  // only the message itself
  EXPECT_TRUE(std::filesystem::is_regular_file(folder.Path() + "/log"));
}

struct MsgCase {
  long m;
  std::string sModule, sMsg, sAction, sAddInfo;
  std::string sTitle, sText, sLog;
};

TEST_F(AppTest, MessageTitlesTextsAndLogEntries) {
  Start();
  const std::string kSupport = "Bitte melden Sie den Fehler an support@orv-software.example!";
  const std::vector<MsgCase> cases = {
      {0, "M", "note", "", "", "OrvFtpUploader - Hinweis von Modul 'M'", "note\r\r", "Hinweis von Modul 'M': note\r"},
      {1, "FTP-PUT failed", "Timeout", "", "", "OrvFtpUploader - Warnhinweis von Modul 'FTP-PUT failed'", "Timeout\r\r",
       "Warnhinweis von Modul 'FTP-PUT failed': Timeout\r"},
      {2, "cbPut_Click", "Bad", "Try again", "", "OrvFtpUploader - Fehlermeldung von Modul 'cbPut_Click'",
       "Bad\r\rTry again!", "Fehlermeldung von Modul 'cbPut_Click': Bad\rTry again!"},
      {7, "X", "odd", "", "", "OrvFtpUploader - X", "odd\r\r", "Xodd\r"},
      {1, "", "plain", "", "", "OrvFtpUploader - ", "plain\r\r", "plain\r"},
      {1, "M", "m", "?", "", "OrvFtpUploader - Warnhinweis von Modul 'M'", "m\r\r" + kSupport,
       "Warnhinweis von Modul 'M': m\r" + kSupport},
      {1, "M", "m", "Stop!", "", "OrvFtpUploader - Warnhinweis von Modul 'M'", "m\r\rStop!!",
       "Warnhinweis von Modul 'M': m\rStop!!"},
      {1, "M", "m", "Act", "more", "OrvFtpUploader - Warnhinweis von Modul 'M'", "m\rmore\r\rAct!",
       "Warnhinweis von Modul 'M': m\rmore\rAct!"},
  };
  for (const MsgCase& c : cases) {
    std::size_t lBoxes = ui.boxes.size();
    app->Msg(c.m, c.sModule, c.sMsg, c.sAction, nullptr, c.sAddInfo);
    ASSERT_EQ(ui.boxes.size(), lBoxes + 1);
    EXPECT_EQ(ui.boxes.back().sTitle, c.sTitle);
    EXPECT_EQ(ui.boxes.back().sText, c.sText);
    EXPECT_EQ(LogEntries().back(), c.sLog);
  }
  // The raw bytes of one entry: time, ": ", text, CR LF.
  std::string sText = LogText();
  EXPECT_EQ(sText.substr(sText.size() - 2), "\r\n");
  EXPECT_TRUE(ui.window.timers.empty());
  EXPECT_EQ(app->ExitStatus(), 0);  // interactive use
}

TEST_F(AppTest, QuestionMarkMessageDescribesTheError) {
  Start();
  OrvError err = OrvError::FromNumber(53, "LibOrv_ReadFile");
  app->Msg(2, "M", "?", "", &err);
  EXPECT_EQ(ui.boxes.back().sText, "Unerwarteter Fehler Nr. 53: File not found in LibOrv_ReadFile\r\r");
}

TEST_F(AppTest, UnattendedMessagesAreLoggedAndEndTheRun) {
  Start("ftpurl=host");
  EXPECT_EQ(app->ExitStatus(), 0);
  app->Msg(1, "FTP-DIR failed", "Error 530");
  EXPECT_TRUE(ui.boxes.empty());
  ASSERT_EQ(ui.window.timers.size(), 1u);
  EXPECT_EQ(ui.window.timers[0].sStatus, "bye");
  EXPECT_EQ(ui.window.timers[0].lTime, 500);
  EXPECT_EQ(LogEntries().back(), "Warnhinweis von Modul 'FTP-DIR failed': Error 530\r");
  EXPECT_EQ(app->ExitStatus(), 1);
}

// An alarm that is neither delivered nor kept is told to the caller: on
// standard error, once, and by the exit status.
TEST_F(AppTest, AnAlarmNeitherDeliveredNorKeptEndsWithStatus3) {
  Start("msg=x");
  app->NoteAlarmUndelivered(true);
  EXPECT_EQ(app->ExitStatus(), 1);
  ::testing::internal::CaptureStderr();
  app->NoteAlarmUndelivered(false);
  app->NoteAlarmUndelivered(false);
  app->Msg(1, "FTP-PUT failed", "Error 550");
  const std::string sStderr = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(sStderr,
            "OrvFtpUploader: the alarm was neither delivered nor kept in the outbox; see the log " + LogPath() + "\n");
  EXPECT_EQ(app->ExitStatus(), 3);
}

TEST_F(AppTest, KindThreeEndsTheProgramAtOnce) {
  cStringList settings;
  settings.SetKey(kSettingsKey);
  settings.SetValue("ftpurl", "old");
  settings.Store(CfgPath());
  std::string sBefore = LibOrv_ReadFile(CfgPath());
  Start();
  EXPECT_EXIT(app->Msg(3, "M", "fatal"), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(LibOrv_ReadFile(CfgPath()), sBefore);
  EXPECT_EQ(LogText().find("terminated normally"), std::string::npos);
}

TEST_F(AppTest, EpilogStoresTheFieldsAndLogsTheEnd) {
  Start();
  ui.window.sUrl = "srv";
  ui.window.sUsr = "usr";
  ui.window.sPwd = "p=w";
  app->Epilog();
  EXPECT_EQ(app->Status(), 2);
  EXPECT_EQ(LogEntries().back(), "terminated normally");
  cStringList settings;
  settings.SetKey(kSettingsKey);
  settings.Load(CfgPath());
  EXPECT_EQ(settings.GetValue("ftpurl"), "srv");
  EXPECT_EQ(settings.GetValue("ftpusr"), "usr");
  EXPECT_EQ(settings.GetValue("ftppwd"), "p=w");
  struct stat st {};
  ASSERT_EQ(::stat(CfgPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(app->ExitStatus(), 0);
}

TEST_F(AppTest, SettingsThatCannotBeWrittenAreReportedAndKept) {
  Start();
  ::chmod(CfgPath().c_str(), 0400);
  ui.window.sPwd = "new";
  app->Epilog();
  EXPECT_EQ(app->ExitStatus(), 1);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].sText.find("Nr. 70"), std::string::npos);
  EXPECT_EQ(LibOrv_ReadFile(CfgPath()), "");
  EXPECT_EQ(LogText().find("terminated normally"), std::string::npos);
}

TEST_F(AppTest, MissingSettingsFileFailsStartUpWith53) {
  app = std::make_unique<cApp>(ui, "", folder.Path());
  OrvApp_Set(app.get());
  try {
    app->Prolog();
    FAIL() << "start-up went on without a settings file";
  } catch (const OrvError& e) {
    EXPECT_EQ(e.Number(), 53);
  }
  EXPECT_FALSE(std::filesystem::exists(CfgPath()));
  EXPECT_EQ(ui.window.iShows, 0);
}

TEST(StartupFailure, BothForms) {
  EXPECT_EQ(StartupFailureText(OrvError::FromNumber(53, "x")),
            "Fehler-Code 53:\rFile not found\r\r"
            "Bitte wenden Sie sich per Email an support@orv-software.example\r"
            "oder telefonisch an +49 30 1234567-0");
  EXPECT_EQ(StartupFailureText(OrvError(372, "no display", "x")),
            "Diese Anwendung kann nicht gestartet werden, weil eine ActiveX-Komponente fehlt oder nicht aktuell "
            "ist.\r\rno display\r\r"
            "Bitte wenden Sie sich per Email an support@orv-software.example\r"
            "oder telefonisch an +49 30 1234567-0");
}

}  // namespace
