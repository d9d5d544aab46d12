// The main window's folders moved whole: a local folder put into a remote
// one, and a remote folder (a node of the tree) fetched into the local
// folder shown, each with everything in it. The files go in one queue
// (frmMainQueue.cpp); the folders are made first. Dragging starts them
// (frmMainDrop.cpp), and so does the context menu of the local folder list
// and of the remote tree.
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <utility>

#include "DirListBox.h"
#include "LibOrv.h"
#include "LocalFiles.h"
#include "OrvError.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

namespace fs = std::filesystem;

// How deep a remote folder is walked. A server lists a link to a folder as
// a folder and never says where it leads; a link back up is found by its
// listing (below), and this bounds what that cannot catch.
constexpr int kMostRemoteDepth = 32;
// How many folders and files one folder get takes at most: a server that
// made up folders without end meets these, not the end of the memory.
constexpr int kMostWalkedFolders = 10000;
constexpr std::size_t kMostWalkedFiles = 200000;

// The plain files under sFolder, to go into sRemote ("/in/photos/"): hidden
// entries and special files left out, as a single put leaves them; a link
// to a folder is followed once, never back into a folder already walked.
// Each folder walked is named in vsFolders, parents first, to be made.
void AddLocalTree(const std::string& sFolder, const std::string& sRemote, const std::string& sShownAs,
                  std::set<std::pair<dev_t, ino_t>>& oWalked, std::vector<frmMain::QueuedFile>& vFiles,
                  std::vector<std::string>& vsFolders) {
  struct stat st;
  if (::stat(sFolder.c_str(), &st) != 0 || !oWalked.insert({st.st_dev, st.st_ino}).second) return;
  std::vector<std::string> vsSub;
  try {
    // In the order the file list shows them, not the file system's.
    std::vector<std::string> vsNames;
    for (LocalFile& o : LocalFiles_List(sFolder)) vsNames.push_back(std::move(o.sName));
    LocalFiles_SortNames(vsNames);
    for (const std::string& sName : vsNames)
      vFiles.push_back({LocalFiles_Join(sFolder, sName), sRemote + sName, sShownAs + sName});
    vsSub = LocalFiles_SubFolders(sFolder);
  } catch (const OrvError&) {
    // An unreadable folder sends nothing; its files are no failures of the
    // queue, since none of them is known.
    return;
  }
  vsFolders.push_back(sRemote.substr(0, sRemote.size() - 1));
  for (const std::string& sSub : vsSub)
    AddLocalTree(LocalFiles_Join(sFolder, sSub), sRemote + sSub + "/", sShownAs + sSub + "/", oWalked, vFiles,
                 vsFolders);
}

// What a remote folder's listing says of it: its names, and the sizes and
// dates of its files.
std::size_t ListingPrint(const std::string& sDirList, const std::vector<OrvFtpFileFacts>& vFacts) {
  std::size_t lPrint = std::hash<std::string>()(sDirList);
  for (const OrvFtpFileFacts& o : vFacts)
    lPrint = lPrint * 1000003u ^ std::hash<std::int64_t>()(o.lSize) ^ std::hash<std::int64_t>()(o.lModified) << 1;
  return lPrint;
}

}  // namespace

bool frmMain::QueueBusy() const { return m_oQueue.has_value() || m_oFolderWalk.has_value(); }

void frmMain::PutLocalPaths(const std::vector<std::string>& vsPaths, const std::string& sRemoteFolder) {
  if (!TransferClient()) {
    Report(1, "FTP-PUT failed", "Not connected");
    return;
  }
  // Before any folder is made: a queue's answers are told apart by their
  // order only.
  if (QueueBusy() || TransferRunning()) {
    Report(2, "Put file to FTP server", "A transfer is still running");
    return;
  }
  std::vector<QueuedFile> vFiles;
  std::set<std::pair<dev_t, ino_t>> oWalked;
  std::vector<std::string> vsFolders;
  for (const std::string& sGiven : vsPaths) {
    const std::string sPath = LocalFiles_Normal(sGiven);
    const std::string sName = LibOrv_GetFileName(sPath);
    std::error_code ec;
    if (fs::is_directory(sPath, ec)) {
      if (!LocalFiles_IsHidden(sName))
        AddLocalTree(sPath, sRemoteFolder + sName + "/", sName + "/", oWalked, vFiles, vsFolders);
    } else {
      vFiles.push_back({sPath, sRemoteFolder + sName, sName});
    }
  }
  // The folders are made first, parents first, on the transfer connection,
  // which keeps the order of its requests; one that exists already stays
  // as it is.
  for (const std::string& s : vsFolders) TransferClient()->FtpMkDir(s, s);
  RunQueue(true, std::move(vFiles));
}

void frmMain::GetRemotePaths(const std::vector<std::string>& vsPaths, const std::string& sLocalFolder) {
  if (!m_oTransferClient) {
    Report(1, "FTP-GET failed", "Not connected");
    return;
  }
  if (QueueBusy() || TransferRunning()) {
    Report(2, "Get file from FTP server", "A transfer is still running");
    return;
  }
  FolderWalk oWalk;
  for (const std::string& sPath : vsPaths) {
    if (sPath.size() > 1 && sPath.back() == '/') {
      // "/in/photos/" goes into the local folder as "photos".
      const std::string sName = LibOrv_GetFileName(sPath.substr(0, sPath.size() - 1));
      oWalk.vWaiting.push_back({sPath, LocalFiles_Join(sLocalFolder, sName), sName + "/", 1, {}});
    } else if (!sPath.empty() && sPath.back() != '/') {
      const std::string sName = LibOrv_GetFileName(sPath);
      oWalk.vFiles.push_back({sPath, LocalFiles_Join(sLocalFolder, sName), sName});
    }
  }
  if (oWalk.vWaiting.empty()) {
    RunQueue(false, std::move(oWalk.vFiles));
    return;
  }
  m_oFolderWalk = std::move(oWalk);
  // Cancel ends the walk once the listing on its way has come.
  cbCancel->setEnabled(true);
  cbCancel->show();
  m_pEscape->setEnabled(true);
  ListNextWalkedFolder();
}

// Lists the next remote folder of the walk on the transfer connection, or,
// all listed, gets the files found.
void frmMain::ListNextWalkedFolder() {
  FolderWalk& o = *m_oFolderWalk;
  if (o.vWaiting.empty() || o.bCancelled) {
    FolderWalk oDone = std::move(o);
    m_oFolderWalk.reset();
    cbCancel->hide();
    m_pEscape->setEnabled(false);
    if (oDone.bCancelled) {
      Log24("FTP-GET cancelled");
      ShowStatus("FTP-GET cancelled");
      return;
    }
    if (oDone.vFiles.empty() && oDone.vsFailures.empty()) {
      // Only folders, now made here too.
      Log24("FTP-GET OK: no files in the folders");
      ShowStatus("FTP-GET OK: no files in the folders");
      return;
    }
    RunQueue(false, std::move(oDone.vFiles), std::move(oDone.vsFailures));
    return;
  }
  const FolderWalk::Folder& oNext = o.vWaiting.front();
  o.sRequestID = "folder " + std::to_string(++o.iListed);
  Log24("FTP Get folder " + oNext.sRemote);
  ShowStatus("FTP-GET: listing " + oNext.sShownAs);
  m_oTransferClient->FtpDir(oNext.sRemote, o.sRequestID);
}

void frmMain::m_oTransferClient_DirEvent(const std::string& sDirList, const std::string& sRequestID, long lErrCode) {
  if (!m_oFolderWalk || m_oFolderWalk->sRequestID != sRequestID) return;
  FolderWalk& o = *m_oFolderWalk;
  FolderWalk::Folder oFolder = std::move(o.vWaiting.front());
  o.vWaiting.pop_front();
  if (lErrCode != 0) {
    const std::string sWhy = TransferFailureReason();
    o.vsFailures.push_back(oFolder.sShownAs + ": Error " + std::to_string(lErrCode) +
                           (sWhy.empty() ? "" : ": " + sWhy));
    Log24("FTP-GET failed: " + o.vsFailures.back());
    ListNextWalkedFolder();
    return;
  }
  std::error_code ec;
  fs::create_directories(oFolder.sLocal, ec);
  if (ec) {
    o.vsFailures.push_back(oFolder.sShownAs + ": " + ec.message() + ": " + oFolder.sLocal);
    Log24("FTP-GET failed: " + o.vsFailures.back());
    ListNextWalkedFolder();
    return;
  }
  // A folder that lists as one of the folders it lies in is a link back
  // up: it is not walked again.
  const std::size_t lPrint = ListingPrint(sDirList, m_oTransferClient->FtpListedFileFacts());
  if (std::find(oFolder.vlAbove.begin(), oFolder.vlAbove.end(), lPrint) != oFolder.vlAbove.end()) {
    Log24("FTP Get folder " + oFolder.sRemote + " not walked: it leads back into a folder above it");
    ListNextWalkedFolder();
    return;
  }
  if (oFolder.iDepth > kMostRemoteDepth || o.iListed > kMostWalkedFolders || o.vFiles.size() > kMostWalkedFiles) {
    // What was found so far is fetched; the rest is one failure.
    o.vsFailures.push_back(oFolder.sShownAs + ": more than " +
                           (oFolder.iDepth > kMostRemoteDepth ? std::to_string(kMostRemoteDepth) + " folder levels"
                            : o.iListed > kMostWalkedFolders  ? std::to_string(kMostWalkedFolders) + " folders"
                                                              : std::to_string(kMostWalkedFiles) + " files") +
                           "; the rest is left out");
    Log24("FTP-GET failed: " + o.vsFailures.back());
    if (oFolder.iDepth <= kMostRemoteDepth) o.vWaiting.clear();
    ListNextWalkedFolder();
    return;
  }
  std::vector<std::size_t> vlAbove = oFolder.vlAbove;
  vlAbove.push_back(lPrint);
  // Subfolders go first, in listing order, so that a folder's files come
  // after the files of the folders before it.
  std::vector<FolderWalk::Folder> vSub;
  ForEachListed(sDirList, [&](std::string_view sEntry) {
    const std::string sPiece(sEntry);
    if (sPiece.back() == '/') {
      const std::string sName = sPiece.substr(0, sPiece.size() - 1);
      vSub.push_back({oFolder.sRemote + sPiece, LocalFiles_Join(oFolder.sLocal, sName), oFolder.sShownAs + sPiece,
                      oFolder.iDepth + 1, vlAbove});
    } else {
      o.vFiles.push_back(
          {oFolder.sRemote + sPiece, LocalFiles_Join(oFolder.sLocal, sPiece), oFolder.sShownAs + sPiece});
    }
  });
  o.vWaiting.insert(o.vWaiting.begin(), std::make_move_iterator(vSub.begin()), std::make_move_iterator(vSub.end()));
  ListNextWalkedFolder();
}

// The local folder list's and the remote tree's menu: the folder under the
// pointer is chosen as a click chooses it, then offered to move whole.
bool frmMain::FolderMenuEvent(QObject* pWatched, QEvent* pEvent) {
  if (pEvent->type() != QEvent::ContextMenu) return false;
  const auto* pMenuEvent = static_cast<const QContextMenuEvent*>(pEvent);
  const QPoint oAt = pMenuEvent->pos();
  if (pWatched == tvFtpDirs->viewport()) {
    QTreeWidgetItem* pNode = tvFtpDirs->itemAt(oAt);
    if (!pNode) return false;
    // The menu takes the button's release, which would have listed the
    // node.
    const std::string sFolder = FtpNodeFolder(pNode);
    tvFtpDirs->setCurrentItem(pNode);
    if (sFolder + "/" != m_sListedFtpFolder) tvFtpDirs_NodeClick(pNode);
    auto* pMenu = new QMenu(this);
    pMenu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* pGet = pMenu->addAction(QStringLiteral("Get folder"), this, [this, sFolder] {
      if (!m_sListedFolder.empty()) GetRemotePaths({sFolder + "/"}, m_sListedFolder);
    });
    // The root has no name to give the local folder.
    pGet->setEnabled(!sFolder.empty() && m_oTransferClient && !m_sListedFolder.empty());
    pMenu->popup(pMenuEvent->globalPos());
    return true;
  }
  if (pWatched == dlb->viewport()) {
    const QListWidgetItem* pEntry = dlb->itemAt(oAt);
    if (!pEntry) return false;
    const int iRow = dlb->row(pEntry);
    const std::string sFolder = dlb->EntryPath(iRow);
    dlb->SetListIndex(iRow);
    if (sFolder != m_sListedFolder) dlb_Click();
    auto* pMenu = new QMenu(this);
    pMenu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* pPut = pMenu->addAction(QStringLiteral("Put folder"), this, [this, sFolder] {
      if (!m_bFtpListingPending) PutLocalPaths({sFolder}, m_sListedFtpFolder);
    });
    pPut->setEnabled(m_oFtpClient && !m_bFtpListingPending && sFolder != "/");
    pMenu->popup(pMenuEvent->globalPos());
    return true;
  }
  return false;
}
