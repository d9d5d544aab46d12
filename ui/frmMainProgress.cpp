// The main window's puts and gets while they run: their progress in the
// status line, and Cancel (the button over the status line's right end, or
// Escape) to end them. A window with an automatic run has neither.
#include <QEventLoop>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "ByteText.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

// Progress is told once a transfer has moved data for this long, so that a
// short one leaves the status line to its outcome.
constexpr auto kQuietStart = std::chrono::milliseconds(500);
// The rate is taken over about this much of the recent past.
constexpr auto kRateWindow = std::chrono::seconds(2);
constexpr int kCancelWidth = 80;

}  // namespace

void frmMain::CreateProgressControls() {
  cbCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cbCancel->setObjectName(QStringLiteral("cbCancel"));
  cbCancel->setToolTip(QStringLiteral("Cancel the running transfer (Esc)"));
  // Escape cancels from anywhere in the window; a click on the button
  // leaves the keyboard where the user works.
  cbCancel->setFocusPolicy(Qt::NoFocus);
  cbCancel->hide();
  connect(cbCancel, &QPushButton::clicked, this, [this] { cbCancel_Click(); });
  m_pEscape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  m_pEscape->setContext(Qt::WindowShortcut);
  m_pEscape->setEnabled(false);
  connect(m_pEscape, &QShortcut::activated, this, [this] { cbCancel_Click(); });
}

void frmMain::PlaceCancel() {
  const QRect oStatus = labStatus->geometry();
  const int iWidth = std::min(kCancelWidth, oStatus.width());
  cbCancel->setGeometry(oStatus.right() + 1 - iWidth, oStatus.top(), iWidth, oStatus.height());
  cbCancel->raise();
}

void frmMain::WatchProgress() {
  if (!m_sCommandLine.empty() || !TransferClient()) return;
  TransferClient()->ProgressEvent = [this](const std::string& sRequestID, std::uint64_t lDone, std::uint64_t lTotal) {
    m_oFtpClient_ProgressEvent(sRequestID, lDone, lTotal);
  };
  TransferClient()->FtpWatchProgress(true);
}

void frmMain::TransferStarted(const std::string& sCommand, const std::string& sRequestID) {
  if (!m_sCommandLine.empty()) return;
  Transfer o;
  o.sCommand = sCommand;
  o.sRequestID = sRequestID;
  m_oTransfers.push_back(std::move(o));
  if (m_oTransfers.size() == 1) cbCancel->setEnabled(true);
  cbCancel->show();
  m_pEscape->setEnabled(true);
}

void frmMain::TransferEnded() {
  if (m_oTransfers.empty()) return;
  m_oTransfers.pop_front();
  if (!m_oTransfers.empty()) {
    cbCancel->setEnabled(true);
    return;
  }
  if (m_pCloseWait) m_pCloseWait->quit();
  cbCancel->hide();
  m_pEscape->setEnabled(false);
}

// The library cancels whichever request it runs at the moment; only a
// transfer whose progress has arrived is known to be that request. One
// asked to end before that is cancelled with its first progress.
void frmMain::cbCancel_Click() {
  if (m_oFolderWalk && !m_oFolderWalk->bCancelled) {
    m_oFolderWalk->bCancelled = true;
    cbCancel->setEnabled(false);
    Log24("FTP Cancel FTP-GET");
  }
  if (m_oTransfers.empty() || !TransferClient()) return;
  // The files of the queue that have not started stay where they are; the
  // one handed to the connection behind the running one ends unstarted.
  if (m_oQueue && !m_oQueue->bCancelled) {
    m_oQueue->bCancelled = true;
    TransferClient()->FtpCancelWaiting();
  }
  Transfer& o = m_oTransfers.front();
  if (o.bCancel) return;
  o.bCancel = true;
  cbCancel->setEnabled(false);
  Log24("FTP Cancel " + o.sCommand);
  // Once all its data has gone, the transfer only waits for the server's
  // word and ends by itself.
  if (o.bMoving && (o.lTotal == 0 || o.lDone < o.lTotal)) {
    o.bCancelSent = true;
    TransferClient()->FtpCancel();
  }
}

void frmMain::m_oFtpClient_ProgressEvent(const std::string& sRequestID, std::uint64_t lDone, std::uint64_t lTotal) {
  if (m_oTransfers.empty() || m_oTransfers.front().sRequestID != sRequestID) return;
  Transfer& o = m_oTransfers.front();
  const Transfer::Clock::time_point tNow = Transfer::Clock::now();
  if (!o.bMoving) {
    o.bMoving = true;
    o.tFirst = tNow;
  }
  o.lDone = lDone;
  o.lTotal = lTotal;
  o.vSamples.emplace_back(tNow, lDone);
  while (o.vSamples.size() > 2 && tNow - o.vSamples[1].first >= kRateWindow) o.vSamples.pop_front();
  if (o.bCancel && !o.bCancelSent) {
    if (lTotal == 0 || lDone < lTotal) {
      o.bCancelSent = true;
      if (TransferClient()) TransferClient()->FtpCancel();
    }
    return;
  }
  if (o.bCancel || tNow - o.tFirst < kQuietStart) return;
  ShowProgress();
}

// "FTP-PUT 123.4 MiB of 512.0 MiB (24 %), 48.2 MiB/s"; without the total
// and share while the total is unknown.
void frmMain::ShowProgress() {
  const Transfer& o = m_oTransfers.front();
  std::string sText = o.sCommand + " " + ByteText_Count(static_cast<double>(o.lDone));
  if (o.lTotal > 0) {
    const auto lPercent = static_cast<long>(static_cast<double>(std::min(o.lDone, o.lTotal)) * 100.0 /
                                            static_cast<double>(o.lTotal));
    sText += " of " + ByteText_Count(static_cast<double>(o.lTotal)) + " (" + std::to_string(lPercent) + " %)";
  }
  const auto& [tOldest, lOldest] = o.vSamples.front();
  const double dSeconds = std::chrono::duration<double>(o.vSamples.back().first - tOldest).count();
  if (dSeconds > 0 && o.lDone >= lOldest) {
    sText += ", " + ByteText_Count(static_cast<double>(o.lDone - lOldest) / dSeconds) + "/s";
  }
  ShowStatus(sText);
}

// The running transfer is cancelled and its answer awaited, so that the
// library removes its temporary file on the server (a get's local one too);
// the wait is bounded, since the program ends either way.
void frmMain::CancelTransfersForClose() {
  constexpr int kCancelBudgetMs = 1000;
  if (!TransferClient() || !TransferRunning()) return;
  Log24("Closing while a transfer runs: it is cancelled");
  cbCancel_Click();
  QEventLoop oLoop;
  m_pCloseWait = &oLoop;
  QTimer::singleShot(kCancelBudgetMs, &oLoop, &QEventLoop::quit);
  // Waits only while a transfer is still outstanding: a queue's file
  // handed behind the running one is cancelled as the running one ends.
  if (TransferRunning()) oLoop.exec(QEventLoop::ExcludeUserInputEvents);
  m_pCloseWait = nullptr;
}
