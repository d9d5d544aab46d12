// The main window's drag and drop: files and folders dragged out of one
// side and dropped on the other are put or fetched, and so are files and
// folders dropped from the desktop's file manager onto the remote side. A
// drag inside a list still chooses the entry it ends on; one that leaves
// the list carries its picked entries, and one out of the remote tree its
// folder. Folders move whole (frmMainFolders.cpp).
#include <QDrag>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QUrl>

#include <string>
#include <vector>

#include "ByteText.h"
#include "DirListBox.h"
#include "LocalFiles.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

// Remote paths as the server's bytes, one per line (a listed name holds no
// line break).
constexpr char kRemoteMime[] = "application/x-orvftpuploader-remote-paths";

std::string LocalPathOf(const QUrl& oUrl) { return QFile::encodeName(oUrl.toLocalFile()).toStdString(); }

}  // namespace

void frmMain::StartDragOut(QAbstractItemView* pView) {
  auto* pData = new QMimeData();
  auto* pList = qobject_cast<QListWidget*>(pView);
  if (pView == tvFtpDirs) {
    // A folder of the tree goes as its path with a closing "/".
    const std::string sFolder = FtpNodeFolder(tvFtpDirs->currentItem());
    if (sFolder.empty()) {
      delete pData;
      return;
    }
    pData->setData(QString::fromLatin1(kRemoteMime), QByteArray::fromStdString(sFolder + "/\n"));
  } else if (pList == lbFtpFiles) {
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
  auto* pDrag = new QDrag(pView);
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

// The local folder a drop at oAt on pTarget goes into: the folder the
// local file list shows, or the folder list's entry under the pointer.
std::string frmMain::LocalDropFolder(QObject* pTarget, const QPoint& oAt) const {
  if (pTarget == lbLocalFiles->viewport()) return m_sListedFolder;
  if (pTarget == dlb->viewport()) {
    const QListWidgetItem* pEntry = dlb->itemAt(oAt);
    return pEntry ? dlb->EntryPath(dlb->row(pEntry)) : std::string();
  }
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
  // A drag is taken on entering by what it carries, wherever it comes in:
  // a view that refuses the entry gets no moves of that drag, so one that
  // came in over an empty spot could never be dropped onto a folder. Where
  // it may land is told at each move, and checked again at the drop.
  const bool bCarries = m_oFtpClient &&
                        (bRemoteSide ? pData->hasUrls() : pData->hasFormat(QString::fromLatin1(kRemoteMime)));
  const bool bHere = bCarries &&
                     !(bRemoteSide ? RemoteDropFolder(pWatched, oAt) : LocalDropFolder(pWatched, oAt)).empty();
  if (pWatched == tvFtpDirs->viewport())
    MarkDropNode(bHere && eType != QEvent::Drop ? tvFtpDirs->itemAt(oAt) : nullptr);
  if (!bCarries || (!bHere && eType != QEvent::DragEnter)) {
    pDrop->ignore();
    return true;
  }
  pDrop->setDropAction(Qt::CopyAction);
  pDrop->accept();
  if (eType != QEvent::Drop) return true;

  if (bRemoteSide) {
    const std::string sFolder = RemoteDropFolder(pWatched, oAt);
    std::vector<std::string> vsPaths;
    for (const QUrl& oUrl : pData->urls())
      if (oUrl.isLocalFile()) vsPaths.push_back(LocalPathOf(oUrl));
    Log24("FTP Drop onto " + sFolder);
    PutLocalPaths(vsPaths, sFolder);
  } else {
    const std::string sFolder = LocalDropFolder(pWatched, oAt);
    std::vector<std::string> vsPaths;
    for (const QByteArray& sLine : pData->data(QString::fromLatin1(kRemoteMime)).split('\n'))
      if (!sLine.isEmpty()) vsPaths.push_back(sLine.toStdString());
    Log24("FTP Drop onto " + sFolder);
    GetRemotePaths(vsPaths, sFolder);
  }
  return true;
}

bool frmMain::DragOutEvent(QObject* pWatched, QEvent* pEvent) {
  const QEvent::Type eType = pEvent->type();
  if (eType != QEvent::MouseButtonPress && eType != QEvent::MouseButtonRelease && eType != QEvent::MouseMove)
    return false;
  for (QAbstractItemView* pList :
       {static_cast<QAbstractItemView*>(lbLocalFiles), static_cast<QAbstractItemView*>(lbFtpFiles),
        static_cast<QAbstractItemView*>(dlb), static_cast<QAbstractItemView*>(tvFtpDirs)}) {
    if (pWatched != pList->viewport()) continue;
    const auto* pMouse = static_cast<const QMouseEvent*>(pEvent);
    const QPoint oAt = pMouse->position().toPoint();
    if (eType == QEvent::MouseButtonPress) {
      m_pDragFrom = pMouse->button() == Qt::LeftButton && pList->indexAt(oAt).isValid() ? pList : nullptr;
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
