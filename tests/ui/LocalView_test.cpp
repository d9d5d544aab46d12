// The window's local side against real folders.
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DirListBox.h"
#include "FileList.h"
#include "LocalFiles.h"
#include "OrvError.h"
#include "RecordingApp.h"
#include "TempFolder.h"
#include "WidgetProbes.h"
#include "frmMain.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& sPath, const std::string& sData = "x") { std::ofstream(sPath) << sData; }

void ClickRow(QListWidget* p, int iRow, bool bDouble = false) {
  ASSERT_GE(iRow, 0);
  const QPoint oAt = p->visualItemRect(p->item(iRow)).center();
  QTest::mouseClick(p->viewport(), Qt::LeftButton, Qt::NoModifier, oAt);
  if (!bDouble) return;
  // The second press of a double click arrives as the double-click event.
  QTest::mouseDClick(p->viewport(), Qt::LeftButton, Qt::NoModifier, oAt);
  QTest::mouseRelease(p->viewport(), Qt::LeftButton, Qt::NoModifier, oAt);
}

class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& sPath) : m_oOld(fs::current_path()) { fs::current_path(sPath); }
  ~CurrentFolder() {
    std::error_code ec;
    fs::current_path(m_oOld, ec);
  }

 private:
  fs::path m_oOld;
};

// A folder with two files, a read-only file, a subfolder, a hidden file and
// folder, a FIFO and a dangling link; the window loads with it as the
// current folder.
class LocalView : public ::testing::Test {
 protected:
  void SetUp() override {
    m_sRoot = LocalFiles_Normal(m_oTemp.Path());
    WriteFile(m_sRoot + "/a.txt");
    WriteFile(m_sRoot + "/b.bin");
    WriteFile(m_sRoot + "/ro.txt");
    ::chmod((m_sRoot + "/ro.txt").c_str(), 0444);
    WriteFile(m_sRoot + "/.hidden");
    fs::create_directory(m_sRoot + "/sub");
    fs::create_directory(m_sRoot + "/.git");
    ASSERT_EQ(::mkfifo((m_sRoot + "/pipe").c_str(), 0600), 0);
    fs::create_symlink(m_sRoot + "/gone", m_sRoot + "/dangling");
    m_pCwd = std::make_unique<CurrentFolder>(m_sRoot);
    m_pWindow = std::make_unique<frmMain>();
    m_pWindow->Load();
  }

  // The expected listing: the ordinary files, by name.
  std::vector<std::string> ExpectedFiles() const { return {"a.txt", "b.bin", "ro.txt"}; }

  RecordingApp m_oApp;
  TempFolder m_oTemp;
  std::string m_sRoot;
  std::unique_ptr<CurrentFolder> m_pCwd;
  std::unique_ptr<frmMain> m_pWindow;
};

TEST_F(LocalView, LoadListsTheCurrentFoldersOrdinaryFilesByName) {
  frmMain& w = *m_pWindow;
  EXPECT_EQ(w.dlb->Path(), m_sRoot);
  EXPECT_EQ(w.dlb->SelectedFolder(), m_sRoot);
  EXPECT_EQ(Entries(w.lbLocalFiles), ExpectedFiles());
  EXPECT_EQ(Text(w.labLocalFileCnt), "3 files");
  // Each file shows its size and its time of change beside the name.
  const auto lChanged = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(fs::last_write_time(m_sRoot + "/a.txt")).time_since_epoch());
  EXPECT_EQ(FileList_SizeText(w.lbLocalFiles->item(0)).toStdString(), "1 B");
  EXPECT_EQ(FileList_DateText(w.lbLocalFiles->item(0)),
            QDateTime::fromSecsSinceEpoch(lChanged.count()).toString(QStringLiteral("yyyy-MM-dd HH:mm")));
  EXPECT_EQ(Text(w.tbLocalPath), m_sRoot + "/");
  EXPECT_TRUE(m_oApp.messages.empty());
}

TEST_F(LocalView, FolderListShowsTheChainThenTheVisibleSubfolders) {
  const DirListBox& dlb = *m_pWindow->dlb;
  const int iCurrent = dlb.IndexOf(m_sRoot);
  ASSERT_GE(iCurrent, 1);
  EXPECT_EQ(dlb.EntryPath(0), "/");
  EXPECT_EQ(dlb.ListIndex(), iCurrent);
  EXPECT_EQ(dlb.ListCount(), iCurrent + 2);
  EXPECT_EQ(dlb.EntryPath(iCurrent + 1), m_sRoot + "/sub");
  for (int i = 1; i <= iCurrent; ++i) {
    EXPECT_EQ(LocalFiles_Join(dlb.EntryPath(i - 1), fs::path(dlb.EntryPath(i)).filename().string()), dlb.EntryPath(i));
  }
}

TEST_F(LocalView, SingleClickListsAFolderWithoutEnteringIt) {
  frmMain& w = *m_pWindow;
  ClickRow(w.dlb, w.dlb->IndexOf(m_sRoot + "/sub"));
  EXPECT_EQ(w.dlb->Path(), m_sRoot);
  EXPECT_TRUE(Entries(w.lbLocalFiles).empty());
  EXPECT_EQ(Text(w.labLocalFileCnt), "0 files");
  EXPECT_EQ(Text(w.tbLocalPath), m_sRoot + "/sub/");

  // A parent folder of the chain is listed the same way.
  const std::string sParent = fs::path(m_sRoot).parent_path().string();
  ClickRow(w.dlb, w.dlb->IndexOf(sParent));
  EXPECT_EQ(w.dlb->Path(), m_sRoot);
  EXPECT_EQ(Text(w.tbLocalPath), LocalFiles_FolderPath(sParent));
}

TEST_F(LocalView, DoubleClickEntersTheFolder) {
  frmMain& w = *m_pWindow;
  fs::create_directory(m_sRoot + "/sub/deeper");
  ClickRow(w.dlb, w.dlb->IndexOf(m_sRoot + "/sub"), true);
  EXPECT_TRUE(m_oApp.messages.empty()) << m_oApp.messages[0].sMsg;
  EXPECT_EQ(w.dlb->Path(), m_sRoot + "/sub");
  EXPECT_EQ(w.dlb->EntryPath(w.dlb->ListIndex()), m_sRoot + "/sub");
  EXPECT_EQ(w.dlb->EntryPath(w.dlb->ListCount() - 1), m_sRoot + "/sub/deeper");
}

TEST_F(LocalView, ClickingAFileSetsThePathToFolderAndName) {
  frmMain& w = *m_pWindow;
  const std::vector<std::string> vs = Entries(w.lbLocalFiles);
  const int iRow = static_cast<int>(std::find(vs.begin(), vs.end(), "ro.txt") - vs.begin());
  ClickRow(w.lbLocalFiles, iRow);
  EXPECT_EQ(Text(w.tbLocalPath), m_sRoot + "/ro.txt");
  EXPECT_EQ(Entries(w.lbLocalFiles), vs);
}

TEST_F(LocalView, TheRootFolderJoinsWithoutADoubledSeparator) {
  frmMain& w = *m_pWindow;
  w.dlb->SetPath("/", "/");
  w.dlb_Click();
  EXPECT_EQ(Text(w.tbLocalPath), "/");
  EXPECT_EQ(LocalFiles_Join("/", "report.txt"), "/report.txt");
}

TEST_F(LocalView, DriveChangeMovesTheFolderListAndEmptiesOnlyThePath) {
  frmMain& w = *m_pWindow;
  TempFolder oDrive;
  const std::string sDrive = LocalFiles_Normal(oDrive.Path());
  WriteFile(sDrive + "/other.txt");
  w.SetDriveList({"/", sDrive});
  const std::vector<std::string> vsBefore = Entries(w.lbLocalFiles);

  w.Drive1->setCurrentIndex(1);
  EXPECT_EQ(w.dlb->Path(), sDrive);
  EXPECT_EQ(w.dlb->EntryPath(0), sDrive);
  EXPECT_EQ(Text(w.tbLocalPath), "");
  EXPECT_EQ(Entries(w.lbLocalFiles), vsBefore);
  EXPECT_EQ(Text(w.labLocalFileCnt), "3 files");

  // A file of the list still shown names its own folder, not the new drive.
  ClickRow(w.lbLocalFiles, 0);
  EXPECT_EQ(Text(w.tbLocalPath), m_sRoot + "/" + vsBefore[0]);

  ClickRow(w.dlb, 0);
  EXPECT_EQ(Entries(w.lbLocalFiles), std::vector<std::string>{"other.txt"});
}

TEST_F(LocalView, ADrivesCurrentFolderIsTheProcessCurrentFolderWhenOnIt) {
  frmMain& w = *m_pWindow;
  w.SetDriveList({"/", m_sRoot});
  EXPECT_EQ(w.Drive1Text(), m_sRoot);
  CurrentFolder oInSub(m_sRoot + "/sub");
  w.Drive1->setCurrentIndex(0);
  EXPECT_EQ(w.dlb->Path(), "/");
  w.Drive1->setCurrentIndex(1);
  EXPECT_EQ(w.dlb->Path(), m_sRoot + "/sub");
}

TEST_F(LocalView, ADriveThatCannotBeOpenedIsReportedAndTheViewStays) {
  frmMain& w = *m_pWindow;
  const std::string sMissing = m_sRoot + "/no-such-drive";
  w.SetDriveList({"/", sMissing});
  const std::string sPathBefore = Text(w.tbLocalPath);
  w.Drive1->setCurrentIndex(1);
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 2);
  EXPECT_EQ(m_oApp.messages[0].sModule, "Local file view");
  EXPECT_NE(m_oApp.messages[0].sMsg.find(sMissing), std::string::npos);
  EXPECT_EQ(w.Drive1Text(), "/");
  EXPECT_EQ(w.dlb->Path(), m_sRoot);
  EXPECT_EQ(Text(w.tbLocalPath), sPathBefore);
}

TEST(LocalFiles, DrivesAreFoldersWithTheRootFirst) {
  const std::vector<std::string> vs = LocalFiles_MountedDrives();
  ASSERT_FALSE(vs.empty());
  EXPECT_EQ(vs[0], "/");
  for (std::size_t i = 0; i < vs.size(); ++i) {
    EXPECT_TRUE(fs::is_directory(vs[i])) << vs[i];
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(vs[i], vs[j]);
  }
}

// Runs this test program's cases matching sFilter as user nobody; the
// output, or empty when that is not possible here.
std::string RunAsNobody(const std::string& sFilter, int& iStatus) {
  const passwd* pNobody = ::getpwnam("nobody");
  if (!pNobody || ::access("/usr/bin/setpriv", X_OK) != 0) return std::string();
  const std::string sSelf = fs::read_symlink("/proc/self/exe").string();
  const std::string sCommand = "cd /tmp && HOME=/tmp /usr/bin/setpriv --reuid=" + std::to_string(pNobody->pw_uid) +
                               " --regid=" + std::to_string(pNobody->pw_gid) + " --clear-groups '" + sSelf +
                               "' --gtest_filter='" + sFilter + "' 2>&1";
  std::string sOutput;
  FILE* pPipe = ::popen(sCommand.c_str(), "r");
  if (!pPipe) return std::string();
  std::array<char, 4096> aBuffer{};
  while (std::size_t n = std::fread(aBuffer.data(), 1, aBuffer.size(), pPipe)) sOutput.append(aBuffer.data(), n);
  iStatus = ::pclose(pPipe);
  return sOutput;
}

// A current folder that cannot be read at the start is the load's error;
// the folder list stands on the root of its drive and the load goes on.
TEST_F(LocalView, AStartFolderWithoutReadPermissionIsTheLoadsError) {
  if (::geteuid() == 0) {
    int iStatus = -1;
    const std::string sOutput = RunAsNobody("LocalView.AStartFolderWithoutReadPermission*", iStatus);
    if (sOutput.empty()) GTEST_SKIP() << "running as root and cannot switch to user nobody";
    EXPECT_EQ(iStatus, 0) << sOutput;
    EXPECT_NE(sOutput.find("[  PASSED  ] 1 test"), std::string::npos) << sOutput;
    return;
  }
  const std::string sLocked = m_sRoot + "/locked";
  fs::create_directory(sLocked);
  ::chmod(sLocked.c_str(), 0300);
  CurrentFolder oInLocked(sLocked);
  m_oApp.messages.clear();
  frmMain w;
  w.Load();
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 2);
  EXPECT_EQ(m_oApp.messages[0].sModule, "frmMain.Load");
  EXPECT_EQ(m_oApp.messages[0].sMsg, "Fehler Nr. 70: " + OrvError::StandardDescription(70));
  EXPECT_EQ(w.dlb->Path(), LocalFiles_DriveOf(sLocked, LocalFiles_MountedDrives()));
  EXPECT_EQ(w.labStatus->text(), QString("Disconnected"));
}

TEST_F(LocalView, AFolderWithoutReadPermissionIsReportedAndTheViewStays) {
  if (::geteuid() == 0) {
    // Permission checks do not apply to root: the case runs again as nobody.
    int iStatus = -1;
    const std::string sOutput = RunAsNobody("LocalView.AFolderWithoutReadPermission*", iStatus);
    if (sOutput.empty()) GTEST_SKIP() << "running as root and cannot switch to user nobody";
    EXPECT_EQ(iStatus, 0) << sOutput;
    EXPECT_NE(sOutput.find("[  PASSED  ] 1 test"), std::string::npos) << sOutput;
    return;
  }
  frmMain& w = *m_pWindow;
  const std::string sLocked = m_sRoot + "/locked";
  fs::create_directory(sLocked);
  ::chmod(sLocked.c_str(), 0300);
  w.dlb->SetPath(m_sRoot);
  const std::vector<std::string> vsBefore = Entries(w.lbLocalFiles);

  ClickRow(w.dlb, w.dlb->IndexOf(sLocked));
  ASSERT_EQ(m_oApp.messages.size(), 1u);
  EXPECT_EQ(m_oApp.messages[0].m, 2);
  EXPECT_EQ(m_oApp.messages[0].sModule, "Local file view");
  EXPECT_NE(m_oApp.messages[0].sMsg.find(sLocked), std::string::npos);
  EXPECT_EQ(m_oApp.messages[0].lErrNumber, OrvError::kPermissionDenied);
  EXPECT_EQ(Entries(w.lbLocalFiles), vsBefore);
  EXPECT_EQ(Text(w.tbLocalPath), m_sRoot + "/");
  EXPECT_EQ(w.dlb->SelectedFolder(), m_sRoot);

  // Entering it fails the same way and keeps the folder list.
  ClickRow(w.dlb, w.dlb->IndexOf(sLocked), true);
  EXPECT_GE(m_oApp.messages.size(), 2u);
  EXPECT_EQ(m_oApp.messages.back().sModule, "Local file view");
  EXPECT_EQ(w.dlb->Path(), m_sRoot);
}

}  // namespace
