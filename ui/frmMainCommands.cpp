// The main window's commands: connect and disconnect, get and put, with the
// events that answer them. The commands on one remote entry are in
// frmMainRemoteCommands.cpp.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <utility>

#include "AppChannel.h"
#include "AutoRunStates.h"
#include "ByteText.h"
#include "CommandLine.h"
#include "FtpServerAddress.h"
#include "LibOrv.h"
#include "LocalFileSource.h"
#include "OrvError.h"
#include "OutboxDraft.h"
#include "cOrvFtpClient.h"
#include "frmMain.h"
#include "frmMainShared.h"

using namespace frmMainShared;

namespace {

// A local file as the put command accepts it: a regular file whose name
// does not mark it hidden.
bool IsPlainFile(const std::string& sPath) {
  if (LibOrv_GetFileName(sPath).rfind('.', 0) == 0) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(sPath, ec);
}

// Raises the error a get into the local file sTarget would end with on this
// side, so that it is told before anything is fetched: its folder is
// missing, no folder or cannot be written, or the target is a folder or a
// write-protected file (which stays as it is, also for root).
void CheckGetTarget(const std::string& sTarget) {
  static const char* kSource = "frmMain.cbGet_Click";
  std::string sFolder = LibOrv_GetPath(sTarget);
  if (sFolder.empty()) sFolder = ".";
  struct stat st {};
  if (::stat(sFolder.c_str(), &st) != 0) throw OrvError::FromErrno(errno, sTarget, kSource);
  if (!S_ISDIR(st.st_mode)) throw OrvError::FromErrno(ENOTDIR, sTarget, kSource);
  if (::access(sFolder.c_str(), W_OK | X_OK) != 0) throw OrvError::FromErrno(errno, sTarget, kSource);
  if (::stat(sTarget.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) throw OrvError::FromNumber(OrvError::kPathFileAccess, kSource);
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    throw OrvError::FromNumber(OrvError::kPermissionDenied, kSource);
}

// "<name> already exists in <folder>. Replace it?", asked of the person at
// the window (No is the default); an automatic run never asks.
bool MayReplace(const std::string& sName, std::string sFolder, const std::string& sTitle) {
  if (sFolder.size() > 1 && sFolder.back() == '/') sFolder.pop_back();
  AppChannel* pApp = OrvApp();
  return pApp && pApp->Ask(sName + " already exists in " + sFolder + ". Replace it?", sTitle);
}

}  // namespace

void frmMain::cbConnect_Click() {
  const std::string sServer = FtpUrlText();
  if (sServer.empty()) {
    Report(2, "FTP Site needed", "Please enter an FTP site");
    return;
  }
  const std::string sUsr = FtpUsrText();
  Log24("FTP Connect to " + CommandLine_MaskedServer(sServer) + " user=" + sUsr);
  cbConnect->setEnabled(false);
  SetButtonColour(cbConnect, kYellow);

  // The transfers of a connection before, if any, end with it unanswered.
  while (TransferRunning()) TransferEnded();
  m_vsRenamedTo.clear();
  m_oQueue.reset();
  m_oFolderWalk.reset();
  m_oFtpClient = cOrvFtpClient::Create();
  m_oFtpClient->DirEvent = [this](const std::string& sDirList, const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_DirEvent(sDirList, sRequestID, lErrCode);
  };
  m_oFtpClient->GetEvent = [this](const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                                  long lErrCode) { m_oFtpClient_GetEvent(sData, sRequestID, bEndOfData, lErrCode); };
  m_oFtpClient->MkDirEvent = [this](const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_MkDirEvent(sRequestID, lErrCode);
  };
  m_oFtpClient->RenameEvent = [this](const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_RenameEvent(sRequestID, lErrCode);
  };
  m_oFtpClient->DeleteEvent = [this](const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_DeleteEvent(sRequestID, lErrCode);
  };
  m_oFtpClient->SizeEvent = [this](const std::string& sRequestID, long lErrCode, std::int64_t lSize) {
    m_oFtpClient_SizeEvent(sRequestID, lErrCode, lSize);
  };
  // The status line tells of a connection that is being tried again; an
  // automatic run's shows its state.
  if (m_sCommandLine.empty()) {
    m_oFtpClient->RetryEvent = [this](const std::string& sWhere, int iTry, int iTries) {
      ShowStatus("Connecting to " + sWhere + ", try " + std::to_string(iTry) + " of " + std::to_string(iTries));
    };
  }

  const FtpServerAddress address = FtpServerAddress_Parse(sServer);
  // The window's gets and puts have a connection of their own, which opens
  // with the first of them; an automatic run keeps to one.
  m_oTransferClient.reset();
  if (m_sCommandLine.empty()) m_oTransferClient = cOrvFtpClient::Create();
  const std::shared_ptr<cOrvFtpClient>& oTransfers = TransferClient();
  oTransfers->PutEvent = [this](const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_PutEvent(sRequestID, lErrCode);
  };
  oTransfers->GetFileEvent = [this](const std::string& sRequestID, long lErrCode) {
    m_oFtpClient_GetFileEvent(sRequestID, lErrCode);
  };
  if (m_oTransferClient) {
    m_oTransferClient->DirEvent = [this](const std::string& sDirList, const std::string& sRequestID, long lErrCode) {
      m_oTransferClient_DirEvent(sDirList, sRequestID, lErrCode);
    };
    m_oTransferClient->RetryEvent = m_oFtpClient->RetryEvent;
    m_oTransferClient->FtpConnect(address.sHost, address.sPort, sUsr, FtpPwdText(), address.eSecurity);
  }
  // The client object reports a failed connection itself; the listing below
  // then fails as well and turns the button red.
  m_oFtpClient->FtpConnect(address.sHost, address.sPort, sUsr, FtpPwdText(), address.eSecurity);
  WatchProgress();
  m_bOpenLoginFolder = m_sCommandLine.empty();
  m_sListedFtpFolder = "/";
  m_bFtpListingPending = true;
  if (m_oFtpClient) m_oFtpClient->FtpDir("/", "");
}

void frmMain::cbDisconnect_Click() {
  Log24("FTP Disconnect");
  // The answer an automatic run waits for goes with the connection.
  const bool bAnswerLost = AutoRunAwaitsAnswer();
  SetConnected(false);
  cbConnect->setEnabled(true);
  m_oQueue.reset();
  m_oFolderWalk.reset();
  m_oTransferClient.reset();
  m_oFtpClient.reset();
  while (TransferRunning()) TransferEnded();
  m_vsRenamedTo.clear();
  lbFtpFiles->clear();
  ResetFtpTree();
  ShowStatus("Disconnected");
  if (bAnswerLost) AutoRunConnectionLost();
}

void frmMain::cbGet_Click() {
  if (QueuePicked(false)) return;
  // A queue's answers are told apart by their order only.
  if (QueueBusy()) {
    Report(2, "Get file from FTP server", "A transfer is still running");
    return;
  }
  const std::string sFtpPath = ByteText_ToBytes(tbFtpPath->text());
  Log24("FTP Get " + sFtpPath);
  const std::string sFile = LibOrv_Extract(sFtpPath, "/", -1);
  if (sFile.empty()) {
    Report(2, "Get file from FTP server", "No file selected to get");
    return;
  }
  const std::string sTarget = LibOrv_GetPath(ByteText_ToBytes(tbLocalPath->text())) + sFile;
  if (!m_oFtpClient) return;
  try {
    CheckGetTarget(sTarget);
  } catch (const OrvError& e) {
    if (AppChannel* pApp = OrvApp()) pApp->Msg(2, "FTP-GET failed", ErrorText(e) + ": " + sTarget, "", &e);
    ShowStatus("FTP-GET failed: " + ErrorText(e), true, ErrorText(e) + ": " + sTarget);
    SetButtonColour(cbGet, kRed);
    return;
  }
  std::error_code ec;
  if (m_sCommandLine.empty() && std::filesystem::exists(sTarget, ec) &&
      !MayReplace(sFile, LibOrv_GetPath(sTarget), "Get file from FTP server")) {
    Log24("FTP Get not replacing " + sTarget);
    return;
  }
  // Written while it arrives, beside the target, which it replaces only
  // once it is whole.
  TransferClient()->FtpGetFile(sFtpPath, sTarget, sTarget);
  TransferStarted("FTP-GET", sTarget);
}

void frmMain::cbPut_Click() {
  if (QueuePicked(true)) return;
  if (QueueBusy()) {
    Report(2, "Put file to FTP server", "A transfer is still running");
    return;
  }
  const std::string sLocalPath = ByteText_ToBytes(tbLocalPath->text());
  Log24("FTP Put " + sLocalPath);
  const std::string sFile = LibOrv_Extract(sLocalPath, "/", -1);
  if (sFile.empty()) {
    Report(2, "Put file to FTP server", "No file selected to put");
    return;
  }
  if (!IsPlainFile(sLocalPath)) {
    Report(2, "Put file to FTP server", "File doesnt exist: " + sLocalPath);
    return;
  }
  // A large file is read on while it is sent; its beginning is read here,
  // so that a file that cannot be read is reported now and nothing is sent.
  std::optional<LocalFileSource> oData;
  try {
    oData.emplace(LocalFileSource::Open(sLocalPath));
  } catch (const OrvError& e) {
    if (AppChannel* pApp = OrvApp()) pApp->Msg(2, "Put file to FTP server", ErrorText(e) + ": " + sLocalPath, "", &e);
    return;
  }
  if (oData->Empty()) {
    Report(1, "Put file to FTP server", "File contains no data: " + sLocalPath);
    return;
  }
  const std::string sTarget = LibOrv_GetRemoteFolder(ByteText_ToBytes(tbFtpPath->text())) + sFile;
  if (!m_oFtpClient) {
    Report(1, "FTP-PUT failed", "Not connected");
    return;
  }
  if (m_sCommandLine.empty() && !lbFtpFiles->findItems(ByteText_FromBytes(sFile), Qt::MatchExactly).isEmpty() &&
      !MayReplace(sFile, LibOrv_GetRemoteFolder(sTarget), "Put file to FTP server")) {
    Log24("FTP Put not replacing " + sTarget);
    return;
  }
  // The automatic run's pieces go under the temporary names its outbox
  // keeps, so that a later run replaces what a broken put left.
  std::string sTemporary;
  if (m_oAlarm && m_sAutoStatus == AutoRunState::kAlarmImg)
    sTemporary = m_oAlarm->Sending(OutboxDraft::Piece::kImage, sTarget);
  else if (m_oAlarm && m_sAutoStatus == AutoRunState::kAutoUpload)
    sTemporary = m_oAlarm->Sending(OutboxDraft::Piece::kLocalFile, sTarget);
  TransferClient()->FtpPut(std::move(*oData), sTarget, "", sTemporary);
  TransferStarted("FTP-PUT", "");
}

void frmMain::m_oFtpClient_PutEvent(const std::string&, long lErrCode) {
  TransferEnded();
  if (m_oQueue) {
    QueuedFileDone(lErrCode);
    return;
  }
  if (m_sAutoStatus == AutoRunState::kOutbox) {
    KeptFilePutDone(lErrCode);
    return;
  }
  if (lErrCode == OrvFtpResult::kCancelled) {
    // The library removed what had arrived of the file; nothing is left.
    // The user's own cancel needs no box; an automatic run reports it.
    if (m_sCommandLine.empty()) Log24("FTP-PUT cancelled");
    else Report(1, "FTP-PUT failed", "Cancelled");
    ShowStatus("FTP-PUT cancelled", true, TransferFailureReason());
    SetButtonColour(cbPut, kRed);
    return;
  }
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-PUT", cbPut, lErrCode, TransferFailureReason());
    return;
  }
  Log24("FTP-PUT OK");
  ShowStatus("FTP-PUT OK");
  SetButtonColour(cbPut, kGreen);
  if (m_oAlarm) m_oAlarm->Arrived();
  if (m_sAutoStatus == AutoRunState::kSendMsg) SetAutoTimer(AutoRunState::kAlarmImg, 500);
  else if (m_sAutoStatus == AutoRunState::kAlarmImg) SetAutoTimer(AutoRunState::kAutoUpload, 500);
  else if (m_sAutoStatus == AutoRunState::kAutoUpload) AfterOwnAlarm();
  else RefreshFtpDir();
}

void frmMain::m_oFtpClient_GetEvent(const std::string& sData, const std::string& sRequestID, bool bEndOfData,
                                    long lErrCode) {
  auto fail = [this](const std::string& sWhy, const std::string& sReason = "") {
    ShowStatus("FTP-GET failed: " + sWhy, true, sReason);
    SetButtonColour(cbGet, kRed);
  };
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-GET", cbGet, lErrCode, FailureReason());
    return;
  }
  if (sRequestID.empty()) return;
  if (!bEndOfData) {
    Report(1, "FTP-GET failed", "File size exceeds max chunk size");
    fail("File size exceeds max chunk size", "File size exceeds max chunk size");
    return;
  }
  try {
    LibOrv_WriteFile(sData, sRequestID);
  } catch (const OrvError& e) {
    // The file of that name, if any, keeps its old content.
    if (AppChannel* pApp = OrvApp()) pApp->Msg(2, "FTP-GET failed", ErrorText(e) + ": " + sRequestID, "", &e);
    fail(ErrorText(e), ErrorText(e) + ": " + sRequestID);
    return;
  }
  Log24("FTP-GET OK: " + sRequestID);
  ShowStatus("FTP-GET OK: " + sRequestID);
  SetButtonColour(cbGet, kGreen);
  RefreshLocalFiles();
}

void frmMain::m_oFtpClient_GetFileEvent(const std::string& sRequestID, long lErrCode) {
  TransferEnded();
  if (m_oQueue) {
    QueuedFileDone(lErrCode);
    return;
  }
  if (lErrCode == OrvFtpResult::kCancelled) {
    // The old local file, if any, is as it was; nothing half is left.
    if (m_sCommandLine.empty()) Log24("FTP-GET cancelled");
    else Report(1, "FTP-GET failed", "Cancelled");
    ShowStatus("FTP-GET cancelled", true, TransferFailureReason());
    SetButtonColour(cbGet, kRed);
    return;
  }
  if (lErrCode != 0) {
    ShowCommandFailure("FTP-GET", cbGet, lErrCode, TransferFailureReason());
    return;
  }
  Log24("FTP-GET OK: " + sRequestID);
  ShowStatus("FTP-GET OK: " + sRequestID);
  SetButtonColour(cbGet, kGreen);
  RefreshLocalFiles();
}

void frmMain::ShowStatus(const std::string& sText, bool bFailed, const std::string& sWhy) {
  labStatus->setText(ByteText_FromBytes(sText));
  std::string sTip;
  if (bFailed) sTip = !sWhy.empty() ? sWhy : m_oFtpClient ? m_oFtpClient->FtpLastFailure() : std::string();
  labStatus->setToolTip(ByteText_FromBytes(sTip));
}

std::string frmMain::FailureReason() const { return m_oFtpClient ? m_oFtpClient->FtpLastFailure() : std::string(); }

std::string frmMain::TransferFailureReason() const {
  return TransferClient() ? TransferClient()->FtpLastFailure() : std::string();
}
