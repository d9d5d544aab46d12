// A fetched file whose target cannot be written: the user is told, the
// button turns red, and an older file of that name keeps its content.
#include <QLabel>
#include <QPushButton>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "LibOrv.h"
#include "RecordingApp.h"
#include "SmallFileSystem.h"
#include "TempFolder.h"
#include "frmMain.h"

namespace {

namespace fs = std::filesystem;

class GetTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    window.Load();
    sFolder = tmp.Path() + "/target";
  }
  void ExpectFailedGetKeptOldFile(const std::string& sTarget, long lError) {
    window.m_oFtpClient_GetEvent(std::string(100 * 1024, 'n'), sTarget, true, 0);
    ASSERT_EQ(app.messages.size(), 1u);
    EXPECT_EQ(app.messages[0].m, 2);
    EXPECT_EQ(app.messages[0].sModule, "FTP-GET failed");
    EXPECT_EQ(app.messages[0].lErrNumber, lError);
    EXPECT_EQ(window.labStatus->text().toStdString().rfind("FTP-GET failed: Error " + std::to_string(lError), 0), 0u);
    EXPECT_EQ(window.cbGet->palette().color(QPalette::Button), QColor(255, 0, 0));
    EXPECT_EQ(LibOrv_ReadFile(sTarget), "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(sFolder), {}), 1) << "a half-written file stayed behind";
  }

  RecordingApp app;
  frmMain window;
  TempFolder tmp;
  std::string sFolder;
};

TEST_F(GetTarget, FullDiskKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  SmallFileSystem small(sFolder, "size=64k");
  if (!small.Mounted()) GTEST_SKIP() << "file systems cannot be mounted here";
  LibOrv_WriteFile("old content", sFolder + "/a.bin");
  ExpectFailedGetKeptOldFile(sFolder + "/a.bin", 61);
}

TEST_F(GetTarget, ReadOnlyFolderKeepsTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  SmallFileSystem small(sFolder, "size=1m");
  if (!small.Mounted()) GTEST_SKIP() << "file systems cannot be mounted here";
  LibOrv_WriteFile("old content", sFolder + "/a.bin");
  small.Remount(MS_RDONLY, "size=1m");
  ExpectFailedGetKeptOldFile(sFolder + "/a.bin", 70);
}

TEST_F(GetTarget, MissingFolderIsReported) {
  window.m_oFtpClient_GetEvent("data", tmp.Path() + "/gone/a.bin", true, 0);
  ASSERT_EQ(app.messages.size(), 1u);
  EXPECT_EQ(app.messages[0].lErrNumber, 76);
  EXPECT_EQ(app.messages[0].sMsg, "Error 76: Path not found: " + tmp.Path() + "/gone/a.bin");
  EXPECT_FALSE(fs::exists(tmp.Path() + "/gone"));
}

}  // namespace
