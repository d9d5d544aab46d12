// How the window reads an alarm run's command line when it loads.
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "RecordingApp.h"
#include "ctlSecurePwdEdit.h"
#include "frmMain.h"

namespace {

class CommandLineLoad : public ::testing::Test {
 protected:
  frmMain& Load(const std::string& sCommandLine) {
    m_pWindow = std::make_unique<frmMain>(sCommandLine);
    m_pWindow->Load();
    return *m_pWindow;
  }
  std::string FtpPath() const { return m_pWindow->tbFtpPath->text().toStdString(); }
  std::string LocalPath() const { return m_pWindow->tbLocalPath->text().toStdString(); }

  RecordingApp m_oApp;
  std::unique_ptr<frmMain> m_pWindow;
};

TEST_F(CommandLineLoad, RemoteFolderIsNormalised) {
  EXPECT_EQ((Load("ftppath=pub\\in"), FtpPath()), "/pub/in/");
  EXPECT_EQ((Load("ftppath=/"), FtpPath()), "/");
  EXPECT_EQ((Load("ftppath=/a/b"), FtpPath()), "/a/b/");
  EXPECT_EQ((Load("ftppath="), FtpPath()), "");
  EXPECT_EQ((Load("ftppath=one ftppath=two"), FtpPath()), "/two/");
}

TEST_F(CommandLineLoad, LocalPathTakesWindowsSeparatorsToo) {
  EXPECT_EQ((Load("localpath=C:\\alarm\\cam1.jpg"), LocalPath()), "C:/alarm/cam1.jpg");
  EXPECT_EQ((Load("localpath=/var/alarm/cam1.jpg"), LocalPath()), "/var/alarm/cam1.jpg");
  // The image path is taken as it stands.
  EXPECT_EQ((Load("alarmimg=C:\\alarm\\img.jpg"), m_pWindow->AutoAlarmImg()), "C:\\alarm\\img.jpg");
}

TEST_F(CommandLineLoad, CredentialsAndIgnoredNames) {
  frmMain& w = Load("ftpurl=host:2121 ftpusr=alarm ftppwd='p w=1' Ftpurl=other");
  EXPECT_EQ(w.FtpUrlText(), "host:2121");
  EXPECT_EQ(w.FtpUsrText(), "alarm");
  EXPECT_EQ(w.FtpPwdText(), "p w=1");
  EXPECT_EQ(w.tbFtpPwd->findChild<QLineEdit*>("tb")->text().toStdString(), "*****");

  frmMain& x = Load("x ftpurl=host");
  EXPECT_EQ(x.FtpUrlText(), "");
}

TEST_F(CommandLineLoad, MessageGetsTheLocalStartTimeAndEscapes) {
  setenv("TZ", "XXX-1", 1);
  tzset();
  // RecordingApp starts at 12:00:00.123 UTC on 7 December 2026.
  EXPECT_EQ((Load("msg='Fire in hall 2'"), m_pWindow->AutoMsg()), "Fire in hall 2\r\nZeit 07.12.2026 13:00:00.123");
  EXPECT_EQ((Load("msg='a\\nb'"), m_pWindow->AutoMsg()), "a\nb\r\nZeit 07.12.2026 13:00:00.123");
  // An open quote takes the rest, later pairs included.
  frmMain& w = Load("msg='open ftpurl=host");
  EXPECT_EQ(w.AutoMsg(), "open ftpurl=host\r\nZeit 07.12.2026 13:00:00.123");
  EXPECT_EQ(w.FtpUrlText(), "");
  unsetenv("TZ");
  tzset();
}

TEST_F(CommandLineLoad, AnyCommandLineArmsTheRun) {
  frmMain& w = Load("nothing known here");
  EXPECT_EQ(w.AutoStatus(), "connect");
  EXPECT_EQ(w.labStatus->text().toStdString(), "AutoStatus=connect");
  ASSERT_FALSE(m_oApp.logs.empty());
  EXPECT_EQ(m_oApp.logs.back().s, "AutoStatus=connect");
  EXPECT_EQ(m_oApp.logs.back().eTyp, 0);

  frmMain& idle = Load("");
  EXPECT_EQ(idle.AutoStatus(), "");
  EXPECT_EQ(idle.labStatus->text().toStdString(), "Disconnected");
}

}  // namespace
