// The main window's gets and puts of several files picked at once: one
// queue, one file after another over the transfer connection, the queue's
// place in the status line, and what arrived and what failed at its end.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "AppChannel.h"
#include "ByteText.h"
#include "LibOrv.h"
#include "LocalFileSource.h"
#include "LocalFiles.h"
#include "OrvError.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

// Whether the file may be replaced: asked of the person at the window,
// unless an answer for all was given before.
bool MayReplaceInQueue(const std::string& sName, std::string sFolder, const std::string& sTitle,
                       std::optional<bool>& bForAll) {
  if (bForAll) return *bForAll;
  if (sFolder.size() > 1 && sFolder.back() == '/') sFolder.pop_back();
  AppChannel* pApp = OrvApp();
  if (!pApp) return false;
  switch (pApp->AskForEach(sName + " already exists in " + sFolder + ". Replace it?", sTitle)) {
    case AppAnswer::kYes: return true;
    case AppAnswer::kYesToAll: bForAll = true; return true;
    case AppAnswer::kNoToAll: bForAll = false; return false;
    case AppAnswer::kNo: break;
  }
  return false;
}

}  // namespace

bool frmMain::QueuePicked(bool bPut) {
  QListWidget* pList = bPut ? lbLocalFiles : lbFtpFiles;
  const QList<QListWidgetItem*> vpPicked = pList->selectedItems();
  if (!m_sCommandLine.empty() || vpPicked.size() < 2) return false;
  const std::string sRemoteFolder = LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text()));
  // In the list's order, which is the order the user sees.
  std::vector<int> vRows;
  for (const QListWidgetItem* p : vpPicked) vRows.push_back(pList->row(p));
  std::sort(vRows.begin(), vRows.end());
  std::vector<QueuedFile> vFiles;
  for (const int iRow : vRows) {
    const std::string sName = ByteText_ToBytes(pList->item(iRow)->text());
    vFiles.push_back({bPut ? LocalFiles_Join(m_sListedFolder, sName) : sRemoteFolder + sName,
                      bPut ? sRemoteFolder + sName : LocalFiles_Join(m_sListedFolder, sName), sName});
  }
  RunQueue(bPut, std::move(vFiles));
  return true;
}

void frmMain::RunQueue(bool bPut, std::vector<QueuedFile> vFiles, std::vector<std::string> vsFailed) {
  const std::string sTitle = bPut ? "Put file to FTP server" : "Get file from FTP server";
  if (!TransferClient()) {
    Report(1, bPut ? "FTP-PUT failed" : "FTP-GET failed", "Not connected");
    return;
  }
  if (QueueBusy() || TransferRunning()) {
    Report(2, sTitle, "A transfer is still running");
    return;
  }
  TransferQueue oQueue;
  oQueue.sCommand = bPut ? "FTP-PUT" : "FTP-GET";
  oQueue.iFailed = static_cast<int>(vsFailed.size());
  oQueue.vsFailures = std::move(vsFailed);
  std::optional<bool> bReplaceAll;
  for (QueuedFile& o : vFiles) {
    // A put replaces what the remote list shows of its folder; a get the
    // local file of its name.
    const std::string sFolder = bPut ? LibOrv_GetRemoteFolder(o.sTarget) : LibOrv_GetPath(o.sTarget);
    const std::string sName = LibOrv_GetFileName(o.sTarget);
    std::error_code ec;
    const bool bExists = bPut ? sFolder == m_sListedFtpFolder &&
                                    !lbFtpFiles->findItems(ByteText_FromBytes(sName), Qt::MatchExactly).isEmpty()
                              : std::filesystem::exists(o.sTarget, ec);
    if (bExists && !MayReplaceInQueue(sName, sFolder, sTitle, bReplaceAll)) {
      Log24(std::string(bPut ? "FTP Put" : "FTP Get") + " not replacing " + o.sTarget);
      continue;
    }
    oQueue.vWaiting.push_back(std::move(o));
  }
  oQueue.iTotal = static_cast<int>(oQueue.vWaiting.size()) + oQueue.iFailed;
  if (oQueue.iTotal == 0) return;
  m_oQueue = std::move(oQueue);
  StartNextQueued();
}

// Starts the next file that can go; one that cannot (gone, unreadable,
// empty, a local target that cannot be written) counts as failed at once.
void frmMain::StartNextQueued() {
  TransferQueue& q = *m_oQueue;
  const bool bPut = q.sCommand == "FTP-PUT";
  while (!q.vWaiting.empty() && !q.bCancelled) {
    QueuedFile o = std::move(q.vWaiting.front());
    q.vWaiting.pop_front();
    ++q.iStarted;
    q.sRunning = o.sName;
    Log24(std::string(bPut ? "FTP Put " : "FTP Get ") + o.sSource);
    const std::string sHead = q.sCommand + " " + std::to_string(q.iStarted) + " of " + std::to_string(q.iTotal) + ": " +
                              o.sName;
    try {
      if (bPut) {
        LocalFileSource oData = LocalFileSource::Open(o.sSource);
        if (oData.Empty()) throw OrvError(0, "File contains no data", "frmMain.cbPut_Click");
        TransferClient()->FtpPut(std::move(oData), o.sTarget, o.sTarget, "");
      } else {
        TransferClient()->FtpGetFile(o.sSource, o.sTarget, o.sTarget);
      }
    } catch (const OrvError& e) {
      ++q.iFailed;
      q.vsFailures.push_back(o.sName + ": " + (e.Number() != 0 ? ErrorText(e) : e.Description()));
      Log24(q.sCommand + " failed: " + q.vsFailures.back());
      continue;
    }
    TransferStarted(sHead, o.sTarget);
    ShowStatus(sHead);
    return;
  }
  EndQueue();
}

void frmMain::QueuedFileDone(long lErrCode) {
  TransferQueue& q = *m_oQueue;
  if (lErrCode == 0) {
    ++q.iOk;
    Log24(q.sCommand + " OK: " + q.sRunning);
  } else if (lErrCode == OrvFtpResult::kCancelled) {
    q.bCancelled = true;
  } else {
    ++q.iFailed;
    const std::string sWhy = TransferFailureReason();
    q.vsFailures.push_back(q.sRunning + ": Error " + std::to_string(lErrCode) + (sWhy.empty() ? "" : ": " + sWhy));
    Log24(q.sCommand + " failed: " + q.vsFailures.back());
  }
  if (!q.vWaiting.empty() && !q.bCancelled) StartNextQueued();
  else EndQueue();
}

// "FTP-PUT 4 of 5 OK, 1 failed", the reasons in the tool tip.
void frmMain::EndQueue() {
  const TransferQueue q = std::move(*m_oQueue);
  m_oQueue.reset();
  const bool bPut = q.sCommand == "FTP-PUT";
  std::string sText = q.sCommand + (q.bCancelled ? " cancelled, " : " ") + std::to_string(q.iOk) + " of " +
                      std::to_string(q.iTotal) + " OK";
  if (q.iFailed > 0) sText += ", " + std::to_string(q.iFailed) + " failed";
  std::string sWhy;
  for (const std::string& s : q.vsFailures) sWhy += (sWhy.empty() ? "" : "\n") + s;
  Log24(sText);
  const bool bFailed = q.bCancelled || q.iFailed > 0;
  ShowStatus(sText, bFailed, bFailed && sWhy.empty() ? "cancelled" : sWhy);
  SetButtonColour(bPut ? cbPut : cbGet, bFailed ? kRed : kGreen);
  if (bPut) {
    m_oStatusAfterListing = KeptStatus{sText, bFailed, bFailed && sWhy.empty() ? "cancelled" : sWhy};
    RefreshFtpDir();
  } else {
    RefreshLocalFiles();
  }
}
