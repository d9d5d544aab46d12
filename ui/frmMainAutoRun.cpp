// The automatic run: another program starts this one with name=value
// parameters; the run connects, sends the alarm (message, image or local
// file), sends what earlier runs kept in the outbox, disconnects and ends.
// An alarm that did not arrive is kept in the outbox for a later run.
#include <QLineEdit>
#include <QTimer>

#include <memory>
#include <optional>

#include "AppChannel.h"
#include "AutoRunStates.h"
#include "ByteText.h"
#include "CommandLine.h"
#include "DateAndTime.h"
#include "LibOrv.h"
#include "MainAndTerminate.h"
#include "Outbox.h"
#include "OutboxDelivery.h"
#include "OutboxDraft.h"
#include "cApp.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"

namespace {

constexpr long kStepMs = 500;
// The wait between the last put and the disconnect, and before the end.
constexpr long kByeWaitMs = 10000;
constexpr long kEndWaitMs = 2000;
// The longest a run may take before it disconnects and ends, whatever the
// server does (a listing that never ends, a server that sends a line now
// and then): what did not arrive by then stays kept in the outbox. Its end
// follows within the disconnect's and the end's waits, inside 5 minutes.
constexpr int kRunLimitMs = 4 * 60 * 1000;

void LogLine(const std::string& s) {
  if (AppChannel* pApp = OrvApp()) pApp->Log(s, 0);
}

void Report(long m, const std::string& sModule, const std::string& sMsg) {
  if (AppChannel* pApp = OrvApp()) pApp->Msg(m, sModule, sMsg);
}

// The run's start stamp, which names its message file.
std::string RunStamp() { return OrvApp() ? OrvApp()->StartUtc() : std::string(); }

}  // namespace

void frmMain::ReadCommandLine() {
  for (const CommandLinePair& pair : m_vCommandLinePairs) {
    const std::string& sValue = pair.sValue;
    if (pair.sName == "localpath") {
      // A calling program may write the path the Windows way.
      std::string sPath = sValue;
      for (char& c : sPath)
        if (c == '\\') c = '/';
      tbLocalPath->setText(ByteText_FromBytes(sPath));
      m_sAutoLocalPath = sPath;
      m_bAutoLocalPath = true;
    } else if (pair.sName == "ftppath") {
      std::string sPath = sValue;
      for (char& c : sPath)
        if (c == '\\') c = '/';
      if (!sPath.empty()) {
        if (sPath.front() != '/') sPath = "/" + sPath;
        if (sPath.back() != '/') sPath += "/";
      }
      tbFtpPath->setText(ByteText_FromBytes(sPath));
    } else if (pair.sName == "ftpurl") {
      SetFtpUrlText(sValue);
    } else if (pair.sName == "ftpusr") {
      SetFtpUsrText(sValue);
    } else if (pair.sName == "ftppwd") {
      SetFtpPwdText(sValue);
    } else if (pair.sName == "alarmimg") {
      m_sAlarmImg = sValue;
    } else if (pair.sName == "msg") {
      const std::string sStart = OrvApp() ? OrvApp()->StartUtc() : DAT_GetUtcTimeStamp();
      m_sMsg = LibOrv_DecodeEscapes(sValue + "\r\nZeit " + DAT_CompactUtcToLocalText(sStart));
    }
  }
  if (m_sCommandLine.empty()) return;
  PlanAlarm();
  SetAutoTimer(AutoRunState::kConnect, kStepMs);
  QTimer::singleShot(kRunLimitMs, this, [this] {
    if (m_sAutoStatus == AutoRunState::kBye || m_sAutoStatus == AutoRunState::kEnd || m_sAutoStatus.empty()) return;
    LogLine("The run has taken " + std::to_string(kRunLimitMs / 1000) + " s, its limit; it ends now");
    // At once, so that no answer still on its way moves the run on.
    SetAutoTimer(AutoRunState::kBye, kStepMs);
    timAuto_Timer();
  });
}

// The pieces the run is to send, under the remote names its steps give them:
// the message, the image and the local file.
void frmMain::PlanAlarm() {
  if (!m_oOutbox) return;
  m_oAlarm = std::make_unique<OutboxDraft>(*m_oOutbox, RunStamp());
  const std::string sFolder = LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text()));
  if (!m_sMsg.empty()) m_oAlarm->AddText(OutboxDraft::Piece::kMessage, sFolder + RunStamp() + ".msg", m_sMsg);
  const auto addFile = [&](OutboxDraft::Piece ePiece, const std::string& sFile) {
    const std::string sName = LibOrv_Extract(sFile, "/", -1);
    // The put command never sends a file whose name marks it hidden.
    if (!LibOrv_GetFileName(sFile).empty() && !sName.empty() && sName[0] != '.')
      m_oAlarm->AddFile(ePiece, sFolder + sName, sFile);
  };
  addFile(OutboxDraft::Piece::kImage, m_sAlarmImg);
  if (m_bAutoLocalPath) addFile(OutboxDraft::Piece::kLocalFile, m_sAutoLocalPath);
}

void frmMain::timAuto_Timer() {
  timAuto->stop();
  timAuto->setInterval(0);
  if (m_sAutoStatus == AutoRunState::kConnect) {
    cbConnect_Click();
  } else if (m_sAutoStatus == AutoRunState::kSendMsg) {
    if (m_sMsg.empty()) {
      SetAutoTimer(AutoRunState::kAlarmImg, kStepMs);
    } else if (!m_oFtpClient) {
      Report(1, "FTP-PUT failed", "Not connected");
    } else {
      const std::string sTarget = LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text())) + RunStamp() + ".msg";
      const std::string sTemporary = m_oAlarm ? m_oAlarm->Sending(OutboxDraft::Piece::kMessage, sTarget) : "";
      m_oFtpClient->FtpPut(std::string(m_sMsg), sTarget, "", sTemporary);
    }
  } else if (m_sAutoStatus == AutoRunState::kAlarmImg) {
    if (m_sAlarmImg.empty()) {
      SetAutoTimer(AutoRunState::kAutoUpload, kStepMs);
    } else {
      tbLocalPath->setText(ByteText_FromBytes(m_sAlarmImg));
      tbFtpPath->setText(
          ByteText_FromBytes(LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text())) + RunStamp() + ".jpg"));
      cbPut_Click();
    }
  } else if (m_sAutoStatus == AutoRunState::kAutoUpload) {
    // The file the command line named, which the image step replaced in
    // the field; nothing when it named none, so that the image goes once.
    if (!m_sAlarmImg.empty() && m_bAutoLocalPath) tbLocalPath->setText(ByteText_FromBytes(m_sAutoLocalPath));
    if (m_bAutoLocalPath && !LibOrv_GetFileName(ByteText_ToBytes(tbLocalPath->text())).empty()) cbPut_Click();
    else AfterOwnAlarm();
  } else if (m_sAutoStatus == AutoRunState::kOutbox) {
    PutNextKeptFile();
  } else if (m_sAutoStatus == AutoRunState::kBye) {
    KeepOwnAlarm();
    cbDisconnect_Click();
    SetAutoTimer(AutoRunState::kEnd, kEndWaitMs);
  } else if (m_sAutoStatus == AutoRunState::kEnd) {
    LogOutboxCount();
    Terminate();
  } else {
    m_sAutoStatus.clear();
  }
}

// The run's own alarm arrived: the kept alarms of earlier runs go next, if
// there are any; with none, the run goes on exactly as it always did.
void frmMain::AfterOwnAlarm() {
  if (m_oOutbox) m_oOutbox->RemoveLeftovers(LogLine);
  // Alarms that runs still at work hold are theirs to send.
  if (!m_oOutbox || m_oOutbox->WaitingAlarmNames().empty()) {
    ReleaseConnection();
    SetAutoTimer(AutoRunState::kBye, kByeWaitMs);
    return;
  }
  m_bOutboxUsed = true;
  m_oDelivery = std::make_unique<OutboxDelivery>(*m_oOutbox, LogLine);
  SetAutoTimer(AutoRunState::kOutbox, kStepMs);
}

void frmMain::PutNextKeptFile() {
  if (!m_oFtpClient) {
    StopOutbox("not connected");
    return;
  }
  std::optional<OutboxDelivery::Put> oPut = m_oDelivery->Next();
  if (!oPut) {
    ReleaseConnection();
    SetAutoTimer(AutoRunState::kBye, kByeWaitMs);
    return;
  }
  m_oFtpClient->FtpPut(std::move(oPut->oData), oPut->sRemotePath, "", oPut->sTemporary);
}

void frmMain::ReleaseConnection() {
  if (!m_oFtpClient) return;
  m_oFtpClient.reset();
  while (TransferRunning()) TransferEnded();
}

void frmMain::KeptFilePutDone(long lErrCode) {
  // A server that refuses this alarm (its path, its name) may take the
  // next one; a connection that failed takes none.
  if (OutboxDelivery::IsRefusal(lErrCode)) {
    m_oDelivery->Refused(lErrCode, m_oFtpClient ? m_oFtpClient->FtpLastFailure() : std::string());
    PutNextKeptFile();
    return;
  }
  if (lErrCode != 0) {
    StopOutbox("FTP-PUT failed: Error " + std::to_string(lErrCode));
    return;
  }
  LogLine("FTP-PUT OK");
  m_oDelivery->Arrived();
  PutNextKeptFile();
}

// A failure while sending kept alarms is no failure of this run's alarm:
// it is logged, not reported, and the rest waits for a later run.
void frmMain::StopOutbox(const std::string& sWhy) {
  m_oDelivery->Stop();
  LogLine("Outbox: delivery stopped (" + sWhy + "); the rest stays kept");
  SetAutoTimer(AutoRunState::kBye, kStepMs);
}

// While the timer runs, the next step is still to come and finds out about
// the connection itself; while it is idle, the run waits for an answer.
bool frmMain::AutoRunAwaitsAnswer() const {
  if (timAuto->isActive()) return false;
  for (const char* szState : {AutoRunState::kConnect, AutoRunState::kSendMsg, AutoRunState::kAlarmImg,
                              AutoRunState::kAutoUpload, AutoRunState::kOutbox}) {
    if (m_sAutoStatus == szState) return true;
  }
  return false;
}

void frmMain::AutoRunConnectionLost() {
  if (m_sAutoStatus == AutoRunState::kOutbox) {
    StopOutbox("the connection was closed");
    return;
  }
  Report(1, "FTP Disconnect", "The connection was closed before the server answered");
}

void frmMain::KeepOwnAlarm() {
  const std::unique_ptr<OutboxDraft> oAlarm = std::move(m_oAlarm);
  if (!oAlarm || oAlarm->Empty() || oAlarm->Delivered()) return;
  if (oAlarm->Keep()) m_bOutboxUsed = true;
  if (g_oApp) g_oApp->NoteAlarmUndelivered(!oAlarm->Lost());
}

void frmMain::LogOutboxCount() {
  if (!m_oOutbox) return;
  const std::size_t lCount = m_oOutbox->WaitingAlarmNames().size();
  if (lCount == 0 && !m_bOutboxUsed) return;
  LogLine("Outbox: " + std::to_string(lCount) + (lCount == 1 ? " alarm kept" : " alarms kept"));
}
