// The main window's drag and drop: files and folders dragged out of one
// side and dropped on the other are put or fetched, and so are files and
// folders dropped from the desktop's file manager onto the remote side. A
// drag inside a list still chooses the entry it ends on; one that leaves
// the list carries its picked entries.
#include <QDrag>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QUrl>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <utility>

#include "ByteText.h"
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

// Remote paths as the server's bytes, one per line (a listed name holds no
// line break).
constexpr char kRemoteMime[] = "application/x-orvftpuploader-remote-paths";

std::string LocalPathOf(const QUrl& oUrl) { return QFile::encodeName(oUrl.toLocalFile()).toStdString(); }

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
    for (const LocalFile& o : LocalFiles_List(sFolder))
      vFiles.push_back({LocalFiles_Join(sFolder, o.sName), sRemote + o.sName, sShownAs + o.sName});
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

}  // namespace

void frmMain::StartDragOut(QListWidget* pList) {
  auto* pData = new QMimeData();
  if (pList == lbFtpFiles) {
    QByteArray sPaths;
    for (const QListWidgetItem* p : pList->selectedItems())
      sPaths += QByteArray::fromStdString(m_sListedFtpFolder + ByteText_ToBytes(p->text())) + '\n';
    if (sPaths.isEmpty() || m_bFtpListingPending) {
      delete pData;
      return;
    }
    pData->setData(QString::fromLatin1(kRemoteMime), sPaths);
  } else {
    QList<QUrl> vUrls;
    if (pList == dlb) {
      const std::string sFolder = dlb->SelectedFolder();
      if (!sFolder.empty()) vUrls.append(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(sFolder))));
    } else {
      for (const QListWidgetItem* p : pList->selectedItems())
        vUrls.append(QUrl::fromLocalFile(QFile::decodeName(
            QByteArray::fromStdString(LocalFiles_Join(m_sListedFolder, ByteText_ToBytes(p->text()))))));
    }
    if (vUrls.isEmpty()) {
      delete pData;
      return;
    }
    pData->setUrls(vUrls);
  }
  auto* pDrag = new QDrag(pList);
  pDrag->setMimeData(pData);
  pDrag->exec(Qt::CopyAction);
}

// The remote folder a drop at oAt on pTarget goes into: the tree's folder
// node under the pointer, or the folder the remote list shows; empty where
// nothing may be dropped (no node there, a listing on its way).
std::string frmMain::RemoteDropFolder(QObject* pTarget, const QPoint& oAt) const {
  if (!m_oFtpClient) return {};
  if (pTarget == tvFtpDirs->viewport()) {
    const QTreeWidgetItem* pNode = tvFtpDirs->itemAt(oAt);
    return pNode ? FtpNodeFolder(pNode) + "/" : std::string();
  }
  if (pTarget == lbFtpFiles->viewport() && !m_bFtpListingPending) return m_sListedFtpFolder;
  return {};
}

// The folder node a drag would drop into is highlighted while it hovers.
void frmMain::MarkDropNode(QTreeWidgetItem* pNode) {
  if (pNode == m_pDropNode) return;
  if (m_pDropNode) m_pDropNode->setData(0, Qt::BackgroundRole, QVariant());
  m_pDropNode = pNode;
  if (m_pDropNode) m_pDropNode->setBackground(0, tvFtpDirs->palette().brush(QPalette::Highlight).color().lighter(150));
}

bool frmMain::DropEvent(QObject* pWatched, QEvent* pEvent) {
  const QEvent::Type eType = pEvent->type();
  if (eType == QEvent::DragLeave && pWatched == tvFtpDirs->viewport()) MarkDropNode(nullptr);
  if (eType != QEvent::DragEnter && eType != QEvent::DragMove && eType != QEvent::Drop) return false;
  const bool bRemoteSide = pWatched == tvFtpDirs->viewport() || pWatched == lbFtpFiles->viewport();
  const bool bLocalSide = pWatched == lbLocalFiles->viewport() || pWatched == dlb->viewport();
  if (!bRemoteSide && !bLocalSide) return false;
  auto* pDrop = static_cast<QDropEvent*>(pEvent);
  const QMimeData* pData = pDrop->mimeData();
  const QPoint oAt = pDrop->position().toPoint();
  const bool bTakes = bRemoteSide ? pData->hasUrls() && !RemoteDropFolder(pWatched, oAt).empty()
                                  : pData->hasFormat(QString::fromLatin1(kRemoteMime)) && m_oFtpClient &&
                                        !m_sListedFolder.empty();
  if (pWatched == tvFtpDirs->viewport())
    MarkDropNode(bTakes && eType != QEvent::Drop ? tvFtpDirs->itemAt(oAt) : nullptr);
  if (!bTakes) {
    pDrop->ignore();
    return true;
  }
  pDrop->setDropAction(Qt::CopyAction);
  pDrop->accept();
  if (eType != QEvent::Drop) return true;

  std::vector<QueuedFile> vFiles;
  if (bRemoteSide) {
    const std::string sFolder = RemoteDropFolder(pWatched, oAt);
    std::set<std::pair<dev_t, ino_t>> oWalked;
    std::vector<std::string> vsFolders;
    for (const QUrl& oUrl : pData->urls()) {
      if (!oUrl.isLocalFile()) continue;
      const std::string sPath = LocalFiles_Normal(LocalPathOf(oUrl));
      const std::string sName = LibOrv_GetFileName(sPath);
      std::error_code ec;
      if (fs::is_directory(sPath, ec)) {
        if (!LocalFiles_IsHidden(sName))
          AddLocalTree(sPath, sFolder + sName + "/", sName + "/", oWalked, vFiles, vsFolders);
      } else {
        vFiles.push_back({sPath, sFolder + sName, sName});
      }
    }
    Log24("FTP Drop onto " + sFolder);
    // The folders are made first, parents first, on the transfer
    // connection, which keeps the order of its requests; one that exists
    // already stays as it is.
    if (m_oFtpClient)
      for (const std::string& s : vsFolders) TransferClient()->FtpMkDir(s, s);
    RunQueue(true, std::move(vFiles));
  } else {
    const QByteArray sPaths = pData->data(QString::fromLatin1(kRemoteMime));
    for (const QByteArray& sLine : sPaths.split('\n')) {
      if (sLine.isEmpty()) continue;
      const std::string sPath = sLine.toStdString();
      const std::string sName = LibOrv_GetFileName(sPath);
      vFiles.push_back({sPath, LocalFiles_Join(m_sListedFolder, sName), sName});
    }
    Log24("FTP Drop onto " + m_sListedFolder);
    RunQueue(false, std::move(vFiles));
  }
  return true;
}

bool frmMain::DragOutEvent(QObject* pWatched, QEvent* pEvent) {
  const QEvent::Type eType = pEvent->type();
  if (eType != QEvent::MouseButtonPress && eType != QEvent::MouseButtonRelease && eType != QEvent::MouseMove)
    return false;
  for (QListWidget* pList : {lbLocalFiles, lbFtpFiles, static_cast<QListWidget*>(dlb)}) {
    if (pWatched != pList->viewport()) continue;
    const auto* pMouse = static_cast<const QMouseEvent*>(pEvent);
    const QPoint oAt = pMouse->position().toPoint();
    if (eType == QEvent::MouseButtonPress) {
      m_pDragFrom = pMouse->button() == Qt::LeftButton && pList->itemAt(oAt) ? pList : nullptr;
      return false;
    }
    if (eType == QEvent::MouseButtonRelease) {
      m_pDragFrom = nullptr;
      return false;
    }
    // Inside the list the drag picks; out of it, it carries.
    if (m_pDragFrom != pList || !(pMouse->buttons() & Qt::LeftButton) || pList->viewport()->rect().contains(oAt))
      return false;
    m_pDragFrom = nullptr;
    StartDragOut(pList);
    return true;
  }
  return false;
}
