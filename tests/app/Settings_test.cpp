// The settings file across runs of the real application object: what start-up
// puts into the window's fields and what a normal end writes back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LibOrv.h"
#include "OrvFtpClient.h"
#include "RecordingUi.h"
#include "TempFolder.h"
#include "cApp.h"
#include "cSEC.h"

namespace {

const char kSettingsKey[] = "\xF6RRk/zy7T7y=+4MX-kyp^cd$&gWdd";

// One program run in a shared program folder: start-up through Prolog, then
// the test plays the user on the recorded fields, then Epilog.
struct OneRun {
  RecordingUi ui;
  std::unique_ptr<cApp> app;
  RecordingWindow& Window() { return ui.window; }
};

class Settings : public ::testing::Test {
 protected:
  void TearDown() override {
    OrvApp_Set(nullptr);
    FTP_Shutdown();
  }

  // onLoad plays the window's load handler, which takes values from the
  // command line.
  std::unique_ptr<OneRun> Start(const std::string& sCommandLine = "", void (*onLoad)(RecordingWindow&) = nullptr) {
    auto p = std::make_unique<OneRun>();
    p->ui.window.onLoad = onLoad;
    p->app = std::make_unique<cApp>(p->ui, sCommandLine, m_oFolder.Path());
    OrvApp_Set(p->app.get());
    p->app->Prolog();
    return p;
  }
  void End(OneRun& r) {
    r.app->Epilog();
    OrvApp_Set(nullptr);
  }

  std::string CfgPath() const { return m_oFolder.Path() + "/OrvFtpUploader.cfg"; }
  void WritePlain(const std::string& sPlain, const std::string& sKey = kSettingsKey) const {
    cSEC oSec;
    oSec.SetKey(sKey);
    std::string s = sPlain;
    ASSERT_TRUE(oSec.Encode(s));
    LibOrv_WriteFile(s, CfgPath());
  }
  std::string ReadPlain() const {
    std::string s = LibOrv_ReadFile(CfgPath());
    cSEC oSec;
    oSec.SetKey(kSettingsKey);
    EXPECT_TRUE(oSec.Decode(s)) << "the file deciphers under the settings key";
    return s;
  }

  TempFolder m_oFolder;
};

TEST_F(Settings, StoredValuesFillTheFieldsAndCommandLineValuesAreKeptForTheNextRun) {
  const std::string sStored = "ftpurl=stored.example\r\nftpusr=stored user\r\nftppwd=stored pwd\r\n";
  WritePlain(sStored);
  auto first = Start();
  EXPECT_EQ(first->Window().sUrl, "stored.example");
  EXPECT_EQ(first->Window().sUsr, "stored user");
  EXPECT_EQ(first->Window().sPwd, "stored pwd");
  End(*first);
  EXPECT_EQ(ReadPlain(), sStored);

  // An unattended run names only the server.
  auto alarm = Start("ftpurl=alarm.example:2121", [](RecordingWindow& w) { w.sUrl = "alarm.example:2121"; });
  EXPECT_EQ(alarm->Window().sUrl, "alarm.example:2121");
  EXPECT_EQ(alarm->Window().sUsr, "stored user");
  EXPECT_EQ(alarm->Window().sPwd, "stored pwd");
  End(*alarm);

  auto next = Start();
  EXPECT_EQ(next->Window().sUrl, "alarm.example:2121");
  EXPECT_EQ(next->Window().sUsr, "stored user");
  End(*next);
}

TEST_F(Settings, OtherLinesAndTheKeysKeepTheirPlaces) {
  WritePlain("ftpusr=old user\r\nproxy=gate.example:3128\r\nftpurl=old.example\r\n");
  auto run = Start();
  EXPECT_EQ(run->Window().sUrl, "old.example");
  EXPECT_EQ(run->Window().sPwd, "");
  run->Window().sUrl = "new.example";
  run->Window().sUsr = "new user";
  run->Window().sPwd = "pw";
  End(*run);
  EXPECT_EQ(ReadPlain(), "ftpusr=new user\r\nproxy=gate.example:3128\r\nftpurl=new.example\r\nftppwd=pw\r\n");
}

TEST_F(Settings, AClearedPasswordIsStoredEmpty) {
  WritePlain("ftpurl=srv\r\nftpusr=usr\r\nftppwd=old secret\r\n");
  auto run = Start();
  ASSERT_EQ(run->Window().sPwd, "old secret");
  run->Window().sPwd = "";
  End(*run);
  EXPECT_EQ(ReadPlain(), "ftpurl=srv\r\nftpusr=usr\r\nftppwd=\r\n");
  auto next = Start();
  EXPECT_EQ(next->Window().sPwd, "");
  EXPECT_EQ(next->Window().sUrl, "srv");
  End(*next);
}

TEST_F(Settings, ValuesComeBackWhole) {
  WritePlain("");
  const std::vector<std::string> vsValues = {"=", "a=b", "==x==", "p\xC3\xA4ss w=rd", " blanks around ", "ftpusr=x"};
  for (const std::string& sValue : vsValues) {
    SCOPED_TRACE(sValue);
    auto run = Start();
    run->Window().sPwd = sValue;
    run->Window().sUsr = "u=" + sValue;
    End(*run);
    auto next = Start();
    EXPECT_EQ(next->Window().sPwd, sValue);
    EXPECT_EQ(next->Window().sUsr, "u=" + sValue);
    End(*next);
  }
}

TEST_F(Settings, AnEmptyFileGivesEmptyFieldsAndACompleteFileAtTheEnd) {
  LibOrv_WriteFile("", CfgPath());
  auto run = Start();
  EXPECT_EQ(run->Window().sUrl, "");
  EXPECT_EQ(run->Window().sUsr, "");
  EXPECT_EQ(run->Window().sPwd, "");
  End(*run);
  EXPECT_EQ(ReadPlain(), "ftpurl=\r\nftpusr=\r\nftppwd=\r\n");
}

// A file written under another key, cut short, or not written by the
// program at all is taken as holding nothing and replaced at the end.
TEST_F(Settings, AFileThatDoesNotDecipherIsReplacedByAValidOne) {
  WritePlain("ftpurl=other.example\r\nftpusr=other\r\nftppwd=other pwd\r\n", "another key entirely");
  const std::string sOtherKey = LibOrv_ReadFile(CfgPath());
  WritePlain("ftpurl=x\r\nftpusr=y\r\nftppwd=z\r\n");
  const std::string sValid = LibOrv_ReadFile(CfgPath());
  const std::vector<std::string> vsDamaged = {sOtherKey, sValid.substr(0, sValid.size() - 1),
                                              "ftpurl=plain.example\r\nftpusr=plain\r\nftppwd=plain\r\n"};
  for (std::size_t i = 0; i < vsDamaged.size(); ++i) {
    SCOPED_TRACE(i);
    LibOrv_WriteFile(vsDamaged[i], CfgPath());
    auto run = Start();
    EXPECT_EQ(run->Window().sUrl, "");
    EXPECT_EQ(run->Window().sUsr, "");
    EXPECT_EQ(run->Window().sPwd, "");
    run->Window().sUrl = "typed.example";
    End(*run);
    EXPECT_EQ(ReadPlain(), "ftpurl=typed.example\r\nftpusr=\r\nftppwd=\r\n");
  }
}

TEST_F(Settings, TheFileOnDiskShowsNoValueAndNoKeyName) {
  WritePlain("");
  auto run = Start();
  run->Window().sUrl = "ftp.example.org";
  run->Window().sUsr = "alarmuser";
  run->Window().sPwd = "Geheim-Passwort-42";
  End(*run);
  const std::string sDisk = LibOrv_ReadFile(CfgPath());
  ASSERT_FALSE(sDisk.empty());
  for (const char* sz : {"Geheim", "Passwort", "alarmuser", "ftp.example.org", "ftpurl", "ftpusr", "ftppwd"}) {
    EXPECT_EQ(sDisk.find(sz), std::string::npos) << sz;
  }
  EXPECT_EQ(ReadPlain(), "ftpurl=ftp.example.org\r\nftpusr=alarmuser\r\nftppwd=Geheim-Passwort-42\r\n");
}

}  // namespace
