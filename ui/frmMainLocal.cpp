// The main window's local side: the drive list, the folder list and the
// local file list, and the local path they fill in.
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "AppChannel.h"
#include "ByteText.h"
#include "DirListBox.h"
#include "FileList.h"
#include "LocalFiles.h"
#include "OrvError.h"
#include "frmMain.h"

// The folder list starts on the process's current folder; when that cannot
// be read, on the root of its drive, and the current folder's error is
// raised for the load to report.
void frmMain::ShowStartFolder() {
  const std::string sCwd = LocalFiles_Normal(".");
  std::string sDrive = LocalFiles_DriveOf(sCwd, m_vsDrives);
  try {
    dlb->SetPath(sCwd, sDrive);
  } catch (const OrvError&) {
    // A current folder that is gone has no drive: the root stands for it.
    if (sDrive.empty()) sDrive = "/";
    try {
      dlb->SetPath(sDrive, sDrive);
      ShowDrive(sDrive);
    } catch (const OrvError& eDrive) {
      ReportLocalViewError("Cannot open drive " + sDrive, eDrive);
    }
    throw;
  }
  ShowDrive(sDrive);
}

void frmMain::dlb_Click() { RefreshLocalFiles(); }

void frmMain::RefreshLocalFiles() {
  const std::string sFolder = dlb->SelectedFolder();
  if (sFolder.empty()) return;
  std::vector<LocalFile> vFiles;
  try {
    vFiles = LocalFiles_List(sFolder);
  } catch (const OrvError& e) {
    ReportLocalViewError("Cannot read folder " + sFolder, e);
    // The file list still shows the folder listed before; so does the highlight.
    const int iListed = dlb->IndexOf(m_sListedFolder);
    if (iListed >= 0) dlb->SetListIndex(iListed);
    return;
  }
  m_sListedFolder = sFolder;
  tbLocalPath->setText(ByteText_FromBytes(LocalFiles_FolderPath(sFolder)));
  lbLocalFiles->clear();
  std::vector<FileListEntry> vRows;
  vRows.reserve(vFiles.size());
  for (const LocalFile& o : vFiles) vRows.push_back({ByteText_FromBytes(o.sName), o.lSize, o.lModified});
  FileList_Add(lbLocalFiles, std::move(vRows));
  labLocalFileCnt->setText(QString::number(lbLocalFiles->count()) + QStringLiteral(" files"));
}

void frmMain::Drive1_Change() {
  const std::string sDrive = Drive1Text();
  if (sDrive.empty()) return;
  try {
    dlb->SetPath(LocalFiles_DriveFolder(sDrive, m_vsDrives), sDrive);
  } catch (const OrvError& e) {
    ReportLocalViewError("Cannot open drive " + sDrive, e);
    ShowDrive(LocalFiles_DriveOf(dlb->Path(), m_vsDrives));
    return;
  }
  tbLocalPath->clear();
}

void frmMain::lbLocalFiles_Click() {
  const QListWidgetItem* pItem = lbLocalFiles->currentItem();
  if (!pItem) return;
  // Joined onto the folder the list was read from: after a drive change the
  // folder list may already stand elsewhere.
  tbLocalPath->setText(ByteText_FromBytes(LocalFiles_Join(m_sListedFolder, ByteText_ToBytes(pItem->text()))));
}

// A key press in a file list is handled by the list right here, so that the
// list's current row changing under it is known as the user's choice; the
// list's answer (accepted or not) decides whether the key goes on to the
// window, as it would without this filter. A button's release over the
// highlighted entry chooses it: the end of a click (any button: each
// highlights the entry it presses), or of a drag, whose highlight follows
// the mouse. In the remote tree, the release of another button than the
// left one (whose click the tree reports itself) over the highlighted
// folder is a click on it.
bool frmMain::eventFilter(QObject* pWatched, QEvent* pEvent) {
  if (DropEvent(pWatched, pEvent) || DragOutEvent(pWatched, pEvent) || FolderMenuEvent(pWatched, pEvent)) return true;
  if (pEvent->type() == QEvent::KeyPress && !m_pKeyList &&
      (pWatched == lbLocalFiles || pWatched == lbFtpFiles || pWatched == static_cast<QObject*>(tvFtpDirs))) {
    const QScopedValueRollback<QObject*> oKeyList(m_pKeyList, pWatched);
    pWatched->event(pEvent);
    return true;
  }
  if (pEvent->type() == QEvent::MouseButtonRelease) {
    const auto* pMouse = static_cast<const QMouseEvent*>(pEvent);
    if (pWatched == tvFtpDirs->viewport() && pMouse->button() != Qt::LeftButton) {
      QTreeWidgetItem* pNode = tvFtpDirs->itemAt(pMouse->position().toPoint());
      // After the tree's own handling, which highlights the node pressed.
      if (pNode && pNode == tvFtpDirs->currentItem()) tvFtpDirs_NodeClick(pNode);
    }
    for (QListWidget* pList : {lbLocalFiles, lbFtpFiles}) {
      if (pWatched != pList->viewport()) continue;
      const QListWidgetItem* pItem = pList->itemAt(pMouse->position().toPoint());
      if (!pItem || pItem != pList->currentItem()) break;
      if (pList == lbLocalFiles) lbLocalFiles_Click();
      else lbFtpFiles_Click();
      break;
    }
  }
  return QWidget::eventFilter(pWatched, pEvent);
}

void frmMain::SetDriveList(const std::vector<std::string>& vsDrives) {
  m_vsDrives = vsDrives;
  {
    const QSignalBlocker oBlock(Drive1);
    Drive1->clear();
    for (const std::string& sDrive : m_vsDrives) Drive1->addItem(ByteText_FromBytes(sDrive));
  }
  if (!dlb->Path().empty()) ShowDrive(LocalFiles_DriveOf(dlb->Path(), m_vsDrives));
}

std::string frmMain::Drive1Text() const {
  const int iIndex = Drive1->currentIndex();
  if (iIndex < 0 || iIndex >= static_cast<int>(m_vsDrives.size())) return std::string();
  return m_vsDrives[static_cast<std::size_t>(iIndex)];
}

// Shows sDrive as the chosen drive without the change handler running.
void frmMain::ShowDrive(const std::string& sDrive) {
  for (std::size_t i = 0; i < m_vsDrives.size(); ++i) {
    if (m_vsDrives[i] != sDrive) continue;
    const QSignalBlocker oBlock(Drive1);
    Drive1->setCurrentIndex(static_cast<int>(i));
    return;
  }
}

void frmMain::ReportLocalViewError(const std::string& sWhat, const OrvError& oErr) {
  AppChannel* pApp = OrvApp();
  if (!pApp) return;
  pApp->Msg(2, "Local file view", sWhat + " (Error " + std::to_string(oErr.Number()) + ": " + oErr.Description() + ")",
            "", &oErr, "");
}
