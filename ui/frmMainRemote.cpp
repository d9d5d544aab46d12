// The main window's remote side: the folder tree, the file list and the
// listings that fill them.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>

#include <string_view>
#include <utility>

#include "AppChannel.h"
#include "AutoRunStates.h"
#include "ByteText.h"
#include "FileList.h"
#include "LibOrv.h"
#include "OrvError.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

// A folder node of the remote tree, filled before it joins the tree: the
// view then takes notice of it once, not of every value set on it.
QTreeWidgetItem* NewFolderNode(const std::string& sKey, const std::string& sText, const std::string& sImage,
                               const QIcon& oIcon) {
  auto* pNode = new QTreeWidgetItem();
  pNode->setText(0, ByteText_FromBytes(sText));
  pNode->setData(0, kNodeKeyRole, QByteArray(sKey.data(), static_cast<qsizetype>(sKey.size())));
  pNode->setData(0, kNodeImageRole, QByteArray(sImage.data(), static_cast<qsizetype>(sImage.size())));
  pNode->setIcon(0, oIcon);
  return pNode;
}

}  // namespace

void frmMain::SetConnected(bool bConnected) {
  for (QWidget* p :
       std::initializer_list<QWidget*>{cbGet, cbPut, cbMkDir, cbReName, cbSize, cbDelete, tvFtpDirs, lbFtpFiles}) {
    p->setEnabled(bConnected);
  }
  if (bConnected) {
    SetButtonColour(cbConnect, kGreen);
    return;
  }
  for (QPushButton* p : {cbConnect, cbPut, cbGet}) SetButtonFace(p);
}

QTreeWidgetItem* frmMain::AddFtpNode(const std::string& sKey, const std::string& sText, const std::string& sImage,
                                     QTreeWidgetItem* pParent) {
  if (m_oFtpNodes.count(sKey) != 0) return nullptr;
  RequireImage(sImage);
  auto* pNode = pParent ? new QTreeWidgetItem(pParent) : new QTreeWidgetItem(tvFtpDirs);
  pNode->setText(0, ByteText_FromBytes(sText));
  pNode->setData(0, kNodeKeyRole, QByteArray(sKey.data(), static_cast<qsizetype>(sKey.size())));
  SetFtpNodeImage(pNode, sImage);
  m_oFtpNodes.emplace(sKey, pNode);
  return pNode;
}

void frmMain::RequireImage(const std::string& sImage) const {
  if (!ImageList1.Contains(ByteText_FromBytes(sImage))) {
    throw OrvError(kElementNotFound, "Element not found", "frmMain.ImageList1");
  }
}

void frmMain::SetFtpNodeImage(QTreeWidgetItem* pNode, const std::string& sImage) {
  RequireImage(sImage);
  pNode->setData(0, kNodeImageRole, QByteArray(sImage.data(), static_cast<qsizetype>(sImage.size())));
  pNode->setIcon(0, ImageList1.Icon(ByteText_FromBytes(sImage)));
}

QTreeWidgetItem* frmMain::FtpNode(const std::string& sKey) const {
  const auto it = m_oFtpNodes.find(sKey);
  return it == m_oFtpNodes.end() ? nullptr : it->second;
}

std::string frmMain::FtpNodeKey(const QTreeWidgetItem* pNode) {
  return pNode ? pNode->data(0, kNodeKeyRole).toByteArray().toStdString() : std::string();
}

std::string frmMain::FtpNodeImage(const QTreeWidgetItem* pNode) {
  return pNode ? pNode->data(0, kNodeImageRole).toByteArray().toStdString() : std::string();
}

void frmMain::m_oFtpClient_DirEvent(const std::string& sDirList, const std::string&, long lErrCode) {
  const bool bFirstListing = std::exchange(m_bOpenLoginFolder, false);
  const std::optional<KeptStatus> oKept = std::exchange(m_oStatusAfterListing, std::nullopt);
  if (lErrCode != 0) {
    m_sPickAfterListing.clear();
    if (OfferHostKey(lErrCode)) return;
    ShowCommandFailure("FTP-DIR", cbConnect, lErrCode, FailureReason());
    return;
  }
  try {
    AddListing(sDirList);
  } catch (const OrvError& e) {
    Report(2, "m_oFtpClient_DirEvent", std::to_string(e.Number()) + ": " + e.Description());
    return;
  }
  labFtpFileCnt->setText(QString::number(lbFtpFiles->count()) + QStringLiteral(" files"));
  m_bFtpListingPending = false;
  PickListedFile();
  Log24("FTP-DIR OK");
  if (oKept) ShowStatus(oKept->sText, oKept->bFailed, oKept->sWhy);
  else ShowStatus("FTP-DIR OK");
  SetButtonColour(cbConnect, kGreen);
  SetConnected(true);
  if (m_sAutoStatus == AutoRunState::kConnect) SetAutoTimer(AutoRunState::kSendMsg, 500);
  if (bFirstListing) OpenLoginFolder();
}

// Servers that do not confine their users put them in a folder of the whole
// file system ("/home/u"): the user starts there, as at a shell, with the
// folders above it in the tree as nodes to click.
void frmMain::OpenLoginFolder() {
  if (!m_oFtpClient) return;
  const std::string sLogin = m_oFtpClient->FtpLoginFolder();
  if (sLogin.size() < 2 || sLogin.front() != '/') return;
  QTreeWidgetItem* pNode = FtpNode(kRootKey);
  std::string sKey;
  std::size_t p = 1;
  while (pNode && p < sLogin.size()) {
    std::size_t e = sLogin.find('/', p);
    if (e == std::string::npos) e = sLogin.size();
    const std::string sName = sLogin.substr(p, e - p);
    p = e + 1;
    if (sName.empty()) continue;
    sKey += "/" + sName;
    QTreeWidgetItem* pChild = FtpNode(sKey);
    if (!pChild) pChild = AddFtpNode(sKey, sName, "CloseFld", pNode);
    pNode = pChild;
  }
  if (!pNode || sKey.empty()) return;
  for (QTreeWidgetItem* pUp = pNode->parent(); pUp; pUp = pUp->parent()) pUp->setExpanded(true);
  tvFtpDirs->setCurrentItem(pNode);
  tvFtpDirs->scrollToItem(pNode);
  tbFtpPath->setText(ByteText_FromBytes(sKey + "/"));
  RefreshFtpDir();
}

// Folders go under the selected node in listing order, files into the list
// sorted by name as people sort; a file shows its size and date where the
// listing tells them.
void frmMain::AddListing(const std::string& sDirList) {
  lbFtpFiles->clear();
  QTreeWidgetItem* pParent = tvFtpDirs->currentItem();
  const std::string sParentFolder = FtpNodeFolder(pParent);
  static const std::vector<OrvFtpFileFacts> kNoFacts;
  const std::vector<OrvFtpFileFacts>& vFacts = m_oFtpClient ? m_oFtpClient->FtpListedFileFacts() : kNoFacts;
  std::vector<FileListEntry> vFiles;
  vFiles.reserve(vFacts.size());
  // The new folder nodes join the tree together after the loop; they all
  // show the same picture, so one icon serves them all.
  QList<QTreeWidgetItem*> vpNodes;
  QIcon oFolderIcon;
  auto fnJoinTree = [&] {
    if (vpNodes.isEmpty()) return;
    if (pParent) pParent->addChildren(vpNodes);
    else tvFtpDirs->addTopLevelItems(vpNodes);
  };
  try {
    ForEachListed(sDirList, [&](std::string_view sPiece) {
      if (sPiece.find('/') != std::string_view::npos) {
        const std::string sName(sPiece.substr(0, sPiece.size() - 1));
        const std::string sKey = sParentFolder + "/" + sName;
        if (m_oFtpNodes.count(sKey) != 0) return;
        RequireImage("CloseFld");
        if (oFolderIcon.isNull()) oFolderIcon = ImageList1.Icon(QStringLiteral("CloseFld"));
        QTreeWidgetItem* pNode = NewFolderNode(sKey, sName, "CloseFld", oFolderIcon);
        m_oFtpNodes.emplace(sKey, pNode);
        vpNodes.append(pNode);
      } else {
        FileListEntry oFile{ByteText_FromBytes(sPiece)};
        if (vFiles.size() < vFacts.size()) {
          oFile.lSize = vFacts[vFiles.size()].lSize;
          oFile.lModified = vFacts[vFiles.size()].lModified;
        }
        vFiles.push_back(std::move(oFile));
      }
    });
  } catch (...) {
    // Nodes made before a failure stay in the tree, as they did when each
    // joined it on its own.
    fnJoinTree();
    throw;
  }
  fnJoinTree();
  FileList_Add(lbFtpFiles, std::move(vFiles));
  if (!vpNodes.isEmpty()) {
    // Every node of one listing shares its parent: one scroll shows them.
    for (QTreeWidgetItem* pUp = pParent; pUp; pUp = pUp->parent()) pUp->setExpanded(true);
    tvFtpDirs->scrollToItem(vpNodes.last());
    if (pParent) SetFtpNodeImage(pParent, "OpenFld");
  }
}

void frmMain::tvFtpDirs_Collapse(QTreeWidgetItem* pNode) { SetFtpNodeImage(pNode, "CloseFld"); }

void frmMain::tvFtpDirs_Expand(QTreeWidgetItem* pNode) { SetFtpNodeImage(pNode, "OpenFld"); }

void frmMain::tvFtpDirs_NodeClick(QTreeWidgetItem*) {
  SetFtpPathFromTree();
  RefreshFtpDir();
}

void frmMain::SetFtpPathFromTree() {
  QTreeWidgetItem* pNode = tvFtpDirs->currentItem();
  if (!pNode) return;
  const std::string sFolder = FtpNodeFolder(pNode);
  if (FtpNodeKey(pNode) == kRootKey) ResetFtpTree();
  tbFtpPath->setText(ByteText_FromBytes(sFolder + "/"));
}

void frmMain::ResetFtpTree() {
  MarkDropNode(nullptr);
  tvFtpDirs->clear();
  m_oFtpNodes.clear();
  tvFtpDirs->setCurrentItem(AddFtpNode(kRootKey, "Root", "CloseFld", nullptr));
}

void frmMain::RefreshFtpDir() {
  if (!m_oFtpClient) return;
  ShowListingPending();
  m_sListedFtpFolder = LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text()));
  m_oFtpClient->FtpDir(m_sListedFtpFolder, "");
}

// Until a listing arrives the file list is empty: no file of the folder
// listed before can be picked and joined with the new folder's path.
void frmMain::ShowListingPending() {
  m_bFtpListingPending = true;
  lbFtpFiles->clear();
  labFtpFileCnt->setText(QStringLiteral("\u2026 files"));
}

void frmMain::lbFtpFiles_Click() {
  const QListWidgetItem* pItem = lbFtpFiles->currentItem();
  if (!pItem) return;
  const std::string sFolder = LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text()));
  tbFtpPath->setText(ByteText_FromBytes(sFolder + ByteText_ToBytes(pItem->text())));
}

bool frmMain::OfferHostKey(long lErrCode) {
  // Only a person at the window may trust a key; an automatic run never does.
  if (lErrCode != OrvFtpResult::kPeerNotVerified || !m_oFtpClient || !m_sCommandLine.empty()) return false;
  const std::string sKey = m_oFtpClient->FtpUnknownHostKey();
  AppChannel* pApp = OrvApp();
  if (sKey.empty() || !pApp) return false;
  Log24("Unknown host key of " + FtpUrlText() + ": " + sKey);
  const std::string sQuestion = "The server " + FtpUrlText() + " is not known yet. Its host key is\r\r" + sKey +
                                "\r\rTrust this key, add it to ~/.ssh/known_hosts and connect?";
  if (!pApp->Ask(sQuestion, "Unknown host key")) {
    Log24("Host key not trusted");
    return false;
  }
  const long lTrusted = m_oFtpClient->FtpTrustHostKey();
  if (lTrusted != 0) {
    Report(1, "Unknown host key",
           "The key could not be added to ~/.ssh/known_hosts (Error " + std::to_string(lTrusted) + ")");
    return false;
  }
  Log24("Host key trusted: " + sKey);
  m_sListedFtpFolder = "/";
  m_bFtpListingPending = true;
  m_oFtpClient->FtpDir("/", "");
  return true;
}
