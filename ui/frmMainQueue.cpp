// The main window's gets and puts of several files picked at once: one
// queue, one file after another over the transfer connection, the queue's
// place in the status line, and what arrived and what failed at its end.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
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
  HandQueued();
  TellQueueFront();
}

// Hands waiting files to the transfer connection, so that it starts each
// one the moment the one before is answered. It goes on without this
// thread: the window's handling of a long listing (a tenth of a second for
// 50,000 entries) must not leave it waiting, and 64 small files are that
// long. What a handed put holds meanwhile is its file open and at most
// 64 KiB of it. One that cannot go (gone, unreadable, empty, a local target
// that cannot be written) keeps its place with why.
void frmMain::HandQueued() {
  constexpr std::size_t kOnTheirWay = 64;
  TransferQueue& q = *m_oQueue;
  const bool bPut = q.sCommand == "FTP-PUT";
  std::size_t lGoing = 0;
  for (const TransferQueue::Handed& h : q.vHanded) lGoing += h.sFailure.empty() ? 1 : 0;
  while (!q.vWaiting.empty() && !q.bCancelled && lGoing < kOnTheirWay) {
    TransferQueue::Handed h{std::move(q.vWaiting.front()), "", "", false};
    q.vWaiting.pop_front();
    ++q.iStarted;
    const QueuedFile& o = h.file;
    h.sHead = q.sCommand + " " + std::to_string(q.iStarted) + " of " + std::to_string(q.iTotal) + ": " + o.sName;
    try {
      if (bPut) {
        LocalFileSource oData = LocalFileSource::Open(o.sSource);
        if (oData.Empty()) throw OrvError(0, "File contains no data", "frmMain.cbPut_Click");
        TransferClient()->FtpPut(std::move(oData), o.sTarget, o.sTarget, "");
      } else {
        TransferClient()->FtpGetFile(o.sSource, o.sTarget, o.sTarget);
      }
      TransferStarted(h.sHead, o.sTarget);
      ++lGoing;
    } catch (const OrvError& e) {
      h.sFailure = o.sName + ": " + (e.Number() != 0 ? ErrorText(e) : e.Description());
    }
    q.vHanded.push_back(std::move(h));
  }
}

// Tells of the queue's first file: its log line and its place in the
// status line, or, for one that could not go, its failure. Ends the queue
// when nothing is left.
void frmMain::TellQueueFront() {
  TransferQueue& q = *m_oQueue;
  const bool bPut = q.sCommand == "FTP-PUT";
  while (!q.vHanded.empty()) {
    TransferQueue::Handed& h = q.vHanded.front();
    // After a cancel, a file that never went stays as if it was not tried.
    if (q.bCancelled && !h.bTold && !h.sFailure.empty()) {
      q.vHanded.pop_front();
      continue;
    }
    if (!h.bTold) {
      h.bTold = true;
      Log24(std::string(bPut ? "FTP Put " : "FTP Get ") + h.file.sSource);
    }
    if (h.sFailure.empty()) {
      ShowQueueFront();
      return;
    }
    ++q.iFailed;
    q.vsFailures.push_back(h.sFailure);
    Log24(q.sCommand + " failed: " + q.vsFailures.back());
    q.vHanded.pop_front();
    HandQueued();
  }
  EndQueue();
}

// The queue's place in the status line, at most four times a second (as
// often as a transfer's progress): a queue of small files moves on faster
// than anyone reads, and each change of the line costs a repaint of it on
// the window's thread, as much as the file's own handling there. A change
// that comes sooner is shown when the quarter second is up, with the file
// that runs by then.
void frmMain::ShowQueueFront() {
  constexpr auto kEvery = std::chrono::milliseconds(250);
  if (!m_pQueueShowTimer) {
    m_pQueueShowTimer = new QTimer(this);
    m_pQueueShowTimer->setSingleShot(true);
    connect(m_pQueueShowTimer, &QTimer::timeout, this, [this] {
      if (m_oQueue && !m_oQueue->vHanded.empty() && m_oQueue->vHanded.front().sFailure.empty()) ShowQueueFront();
    });
  }
  const auto tNow = std::chrono::steady_clock::now();
  const auto tNext = m_tQueueShown + kEvery;
  if (tNow < tNext) {
    if (!m_pQueueShowTimer->isActive())
      m_pQueueShowTimer->start(std::chrono::ceil<std::chrono::milliseconds>(tNext - tNow));
    return;
  }
  m_tQueueShown = tNow;
  ShowStatus(m_oQueue->vHanded.front().sHead);
}

void frmMain::QueuedFileDone(long lErrCode) {
  TransferQueue& q = *m_oQueue;
  if (q.vHanded.empty()) return;
  const std::string sName = q.vHanded.front().file.sName;
  q.vHanded.pop_front();
  if (lErrCode == 0) {
    ++q.iOk;
    Log24(q.sCommand + " OK: " + sName);
  } else if (lErrCode == OrvFtpResult::kCancelled) {
    q.bCancelled = true;
  } else {
    ++q.iFailed;
    const std::string sWhy = TransferFailureReason();
    q.vsFailures.push_back(sName + ": Error " + std::to_string(lErrCode) + (sWhy.empty() ? "" : ": " + sWhy));
    Log24(q.sCommand + " failed: " + q.vsFailures.back());
  }
  if (!q.bCancelled) {
    HandQueued();
  } else if (!m_oTransfers.empty() && !m_oTransfers.front().bCancelSent && TransferClient()) {
    // The file handed behind a cancelled one ends too: the library ends
    // it where it runs, or as it starts.
    Transfer& o = m_oTransfers.front();
    o.bCancel = true;
    o.bCancelSent = true;
    TransferClient()->FtpCancel();
  }
  TellQueueFront();
}

// "FTP-PUT 4 of 5 OK, 1 failed", the reasons in the tool tip.
void frmMain::EndQueue() {
  const TransferQueue q = std::move(*m_oQueue);
  m_oQueue.reset();
  if (m_pQueueShowTimer) m_pQueueShowTimer->stop();
  m_tQueueShown = {};
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
