// The main window's commands on one remote entry: create a folder, rename,
// get the size of and delete the entry that the remote path names, with the
// events that answer them. The remote path field names the entry; the text
// field beside the buttons holds a new name.
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <utility>
#include <vector>

#include "AppChannel.h"
#include "ByteText.h"
#include "LibOrv.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

constexpr char kMkDirModule[] = "Create Directory on FTP server";
constexpr char kRenameModule[] = "Rename file on FTP server";
constexpr char kSizeModule[] = "Get file size on FTP server";
constexpr char kDeleteModule[] = "Delete on FTP server";

// Why a typed text cannot be the name of an entry within one folder; empty
// when it can. A line break would end the command that carries the name.
std::string NameFault(const std::string& sName) {
  if (LibOrv_HasLineBreak(sName)) return "A name must not hold a line break";
  if (sName.find('/') != std::string::npos) return "A name must not hold \"/\": " + sName;
  if (sName == "." || sName == "..") return "Not a name of an entry of its own: " + sName;
  return {};
}

// Tells the user why a command is not sent; true when it is told.
bool Refused(const char* szModule, const std::string& sWhy) {
  if (sWhy.empty()) return false;
  Report(2, szModule, sWhy);
  return true;
}

}  // namespace

void frmMain::cbMkDir_Click() {
  const std::string sFtpPath = ByteText_ToBytes(tbFtpPath->text());
  const std::string sName = ByteText_ToBytes(tbFtpText->text());
  const std::string sFolder = LibOrv_GetRemoteFolder(sFtpPath);
  if (Refused(kMkDirModule, LibOrv_HasLineBreak(sFtpPath) ? "The path must not hold a line break" : "")) return;
  if (Refused(kMkDirModule, sFolder.empty() ? "No folder selected to create the directory in" : "")) return;
  if (Refused(kMkDirModule, sName.empty() ? "No name given for the new directory" : NameFault(sName))) return;
  if (!m_oFtpClient) {
    Report(1, "FTP-MKDIR failed", "Not connected");
    return;
  }
  const std::string sNewFolder = sFolder + sName;
  Log24("FTP MkDir " + sNewFolder);
  m_oFtpClient->FtpMkDir(sNewFolder, sNewFolder);
}

// A path ending with "/" names a folder to rename, any other a file.
void frmMain::cbReName_Click() {
  const std::string sFtpPath = ByteText_ToBytes(tbFtpPath->text());
  const std::string sNewName = ByteText_ToBytes(tbFtpText->text());
  const bool bFolder = !sFtpPath.empty() && sFtpPath.back() == '/';
  const std::string sEntry = bFolder ? sFtpPath.substr(0, sFtpPath.size() - 1) : sFtpPath;
  if (Refused(kRenameModule, LibOrv_HasLineBreak(sFtpPath) ? "The path must not hold a line break" : "")) return;
  if (Refused(kRenameModule, sFtpPath == "/" ? "The root folder cannot be renamed" : "")) return;
  if (Refused(kRenameModule, LibOrv_GetRemoteName(sEntry).empty() ? "No file selected to rename" : "")) return;
  if (Refused(kRenameModule, sNewName.empty() ? "No new name given for the file" : NameFault(sNewName))) return;
  if (!m_oFtpClient) {
    Report(1, "FTP-RENAME failed", "Not connected");
    return;
  }
  Log24("FTP Rename " + sFtpPath + " -> " + sNewName);
  // The answers come in the order of the requests; each takes its new path
  // from the front.
  m_vsRenamedTo.push_back(LibOrv_GetRemoteFolder(sEntry) + sNewName + (bFolder ? "/" : ""));
  m_oFtpClient->FtpRename(sFtpPath, sNewName, sFtpPath);
}

void frmMain::cbSize_Click() {
  const std::string sFtpPath = ByteText_ToBytes(tbFtpPath->text());
  if (Refused(kSizeModule, LibOrv_HasLineBreak(sFtpPath) ? "The path must not hold a line break" : "")) return;
  if (Refused(kSizeModule, LibOrv_GetRemoteName(sFtpPath).empty() ? "No file selected to get the size of" : "")) return;
  if (!m_oFtpClient) {
    Report(1, "FTP-SIZE failed", "Not connected");
    return;
  }
  Log24("FTP Size " + sFtpPath);
  m_oFtpClient->FtpSize(sFtpPath, sFtpPath);
}

// A path ending with "/" names an empty folder to delete, any other a file.
void frmMain::cbDelete_Click() {
  const std::string sFtpPath = ByteText_ToBytes(tbFtpPath->text());
  const bool bFolder = !sFtpPath.empty() && sFtpPath.back() == '/';
  if (Refused(kDeleteModule, LibOrv_HasLineBreak(sFtpPath) ? "The path must not hold a line break" : "")) return;
  if (Refused(kDeleteModule, sFtpPath.empty() ? "No file selected to delete" : "")) return;
  if (Refused(kDeleteModule, sFtpPath == "/" ? "The root folder cannot be deleted" : "")) return;
  if (!m_oFtpClient) {
    Report(1, "FTP-DELETE failed", "Not connected");
    return;
  }
  AppChannel* pApp = OrvApp();
  const std::string sQuestion = bFolder ? "Delete the folder " + sFtpPath + " on the FTP server?"
                                        : "Delete " + sFtpPath + " on the FTP server?";
  if (!pApp || !pApp->Ask(sQuestion, kDeleteModule)) return;
  Log24("FTP Delete " + sFtpPath);
  m_oFtpClient->FtpDelete(sFtpPath, sFtpPath);
}

void frmMain::m_oFtpClient_MkDirEvent(const std::string& sRequestID, long lErrCode) {
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-MKDIR", cbMkDir, lErrCode, FailureReason());
    return;
  }
  Log24("FTP-MKDIR OK");
  ShowStatus("FTP-MKDIR OK");
  SetButtonColour(cbMkDir, kGreen);
  ListFtpFolder(LibOrv_GetRemoteFolder(sRequestID));
}

void frmMain::m_oFtpClient_RenameEvent(const std::string& sRequestID, long lErrCode) {
  std::string sNewPath;
  if (!m_vsRenamedTo.empty()) {
    sNewPath = std::move(m_vsRenamedTo.front());
    m_vsRenamedTo.pop_front();
  }
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-RENAME", cbReName, lErrCode, FailureReason());
    return;
  }
  const std::string& sOldPath = sRequestID;
  const bool bFolder = !sOldPath.empty() && sOldPath.back() == '/';
  const std::string sOldEntry = bFolder ? sOldPath.substr(0, sOldPath.size() - 1) : sOldPath;
  Log24("FTP-RENAME OK");
  ShowStatus("FTP-RENAME OK");
  SetButtonColour(cbReName, kGreen);
  // The old name no longer exists: the path names the entry by its new one.
  if (!sNewPath.empty() && ByteText_ToBytes(tbFtpPath->text()) == sOldPath)
    tbFtpPath->setText(ByteText_FromBytes(sNewPath));
  // A renamed folder's node goes; the listing of its parent brings it back
  // under the new name.
  if (bFolder) RemoveFtpNode(sOldEntry);
  ListFtpFolder(LibOrv_GetRemoteFolder(sOldEntry));
}

void frmMain::m_oFtpClient_SizeEvent(const std::string& sRequestID, long lErrCode, std::int64_t lSize) {
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-SIZE", cbSize, lErrCode, FailureReason());
    return;
  }
  const std::string sText = "FTP-SIZE OK: " + sRequestID + " " + std::to_string(lSize) + " bytes";
  Log24(sText);
  ShowStatus(sText);
  SetButtonColour(cbSize, kGreen);
}

void frmMain::m_oFtpClient_DeleteEvent(const std::string& sRequestID, long lErrCode) {
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-DELETE", cbDelete, lErrCode, FailureReason());
    return;
  }
  Log24("FTP-DELETE OK");
  ShowStatus("FTP-DELETE OK");
  SetButtonColour(cbDelete, kGreen);
  const bool bFolder = !sRequestID.empty() && sRequestID.back() == '/';
  const std::string sFolder = LibOrv_GetRemoteFolder(bFolder ? sRequestID.substr(0, sRequestID.size() - 1)
                                                             : sRequestID);
  // The path no longer names anything: a put after it would make a deleted
  // folder anew.
  if (ByteText_ToBytes(tbFtpPath->text()) == sRequestID) tbFtpPath->setText(ByteText_FromBytes(sFolder));
  if (bFolder) RemoveFtpNode(sRequestID.substr(0, sRequestID.size() - 1));
  ListFtpFolder(sFolder);
}

void frmMain::ShowCommandFailure(const std::string& sCommand, QPushButton* pButton, long lErrCode,
                                 const std::string& sWhy) {
  const std::string sError = "Error " + std::to_string(lErrCode);
  ReportFailure(1, sCommand + " failed", sError, sWhy);
  ShowStatus(sCommand + " failed: " + sError, true, sWhy);
  SetButtonColour(pButton, kRed);
}

// The listing's folders go under the selected node: the folder's own node
// is selected first where the tree has it.
void frmMain::ListFtpFolder(const std::string& sFolder) {
  if (!m_oFtpClient) return;
  const std::string sKey = sFolder.empty() || sFolder == "/" ? kRootKey : sFolder.substr(0, sFolder.size() - 1);
  if (QTreeWidgetItem* pNode = FtpNode(sKey)) tvFtpDirs->setCurrentItem(pNode);
  ShowListingPending();
  m_sListedFtpFolder = sFolder;
  m_oFtpClient->FtpDir(sFolder, "");
}

// The node and the nodes below it leave the tree; a selection among them
// goes to the node's parent.
void frmMain::RemoveFtpNode(const std::string& sKey) {
  QTreeWidgetItem* pNode = FtpNode(sKey);
  if (!pNode || sKey == kRootKey) return;
  MarkDropNode(nullptr);
  std::vector<QTreeWidgetItem*> vpGone{pNode};
  for (std::size_t i = 0; i < vpGone.size(); ++i) {
    for (int c = 0; c < vpGone[i]->childCount(); ++c) vpGone.push_back(vpGone[i]->child(c));
  }
  for (QTreeWidgetItem* p : vpGone) {
    m_oFtpNodes.erase(FtpNodeKey(p));
    if (tvFtpDirs->currentItem() == p) tvFtpDirs->setCurrentItem(pNode->parent());
  }
  delete pNode;
}
