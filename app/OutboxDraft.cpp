#include "OutboxDraft.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <tuple>

#include "LibOrv.h"
#include "OrvError.h"
#include "OrvFtpLibrary.h"

namespace {

// A local file that is not there to be sent: missing, or no regular file
// (which the put does not send either).
bool NotThere(const std::string& sPath) {
  struct stat st {};
  return ::stat(sPath.c_str(), &st) != 0 ? errno == ENOENT || errno == ENOTDIR : !S_ISREG(st.st_mode);
}

}  // namespace

OutboxDraft::OutboxDraft(const Outbox& oOutbox, std::string sStamp) : m_oOutbox(oOutbox), m_sStamp(std::move(sStamp)) {}

OutboxDraft::~OutboxDraft() {
  m_vSyncs.clear();
  if (!m_sWork.empty()) OutboxDisk_RemoveAll(m_sWork);
}

void OutboxDraft::AddText(Piece ePiece, const std::string& sRemotePath, std::string sText) {
  PieceState& oPiece = State(ePiece);
  oPiece.sRemotePath = sRemotePath;
  oPiece.bText = true;
  oPiece.sText = std::move(sText);
}

void OutboxDraft::AddFile(Piece ePiece, const std::string& sRemotePath, const std::string& sLocalPath) {
  PieceState& oPiece = State(ePiece);
  oPiece.sRemotePath = sRemotePath;
  oPiece.sLocalPath = sLocalPath;
}

bool OutboxDraft::Commit(const std::string& sServer, const std::string& sUser, const std::string& sFolder,
                         const OutboxLogFn& fnLog) {
  m_fnLog = fnLog;
  m_sServer = sServer;
  m_sUser = sUser;
  m_sFolder = sFolder;
  for (PieceState& oPiece : m_vPieces)
    oPiece.sTemporary = OrvFtpClientTemporaryName(LibOrv_Extract(oPiece.sRemotePath, "/", -1));
  if (m_vPieces.empty()) return false;
  try {
    std::tie(m_sWork, m_fdWorkLock) = m_oOutbox.NewWorkFolder(m_sStamp);
    std::uint64_t lSize = 0;
    for (PieceState& oPiece : m_vPieces) {
      // A text that cannot be written shows a disk that takes nothing.
      if (!Store(oPiece) && oPiece.bText) throw OrvError(OrvError::kPathFileAccess, oPiece.sNotKept, "Outbox");
      lSize += oPiece.lSize;
    }
    if (std::none_of(m_vPieces.begin(), m_vPieces.end(), [](const PieceState& o) { return !o.sStored.empty(); })) {
      OutboxDisk_RemoveAll(std::exchange(m_sWork, std::string()));
      m_fdWorkLock = UniqueFd();
      return false;
    }
    KeptAlarm::WriteManifest(m_sWork, Manifest());
    const std::string sName = m_oOutbox.Admit(m_sWork, lSize, m_fnLog);
    m_sWork.clear();
    m_oKept = m_oOutbox.Hold(sName, std::move(m_fdWorkLock));
  } catch (const OrvError& e) {
    m_fnLog("Outbox: the alarm could not be kept: " + e.Description());
    if (!m_sWork.empty()) OutboxDisk_RemoveAll(std::exchange(m_sWork, std::string()));
    m_fdWorkLock = UniqueFd();
    for (PieceState& oPiece : m_vPieces) oPiece.sStored.clear();
    return false;
  }
  std::vector<std::string> vsPaths;
  for (const PieceState& oPiece : m_vPieces)
    if (!oPiece.sStored.empty()) vsPaths.push_back(Folder() + "/" + oPiece.sStored);
  vsPaths.insert(vsPaths.end(), {Folder() + "/" + Outbox::kManifestName, Folder(), m_oOutbox.Folder()});
  m_vSyncs.push_back(std::make_unique<OutboxDiskSync>(std::move(vsPaths)));
  return true;
}

std::string OutboxDraft::Sending(Piece ePiece, const std::string& sRemotePath) {
  PieceState& oPiece = State(ePiece);
  m_lSending = static_cast<std::size_t>(&oPiece - m_vPieces.data()) + 1;
  oPiece.bArrived = false;
  bool bChanged = false;
  if (oPiece.sRemotePath != sRemotePath) {
    // The run's fields were changed meanwhile; the alarm follows them.
    oPiece.sRemotePath = sRemotePath;
    oPiece.sTemporary = OrvFtpClientTemporaryName(LibOrv_Extract(sRemotePath, "/", -1));
    bChanged = true;
  }
  // A file that was not there when the alarm was kept may be by now.
  if (m_oKept && oPiece.sStored.empty() && oPiece.bMissing && Store(oPiece)) {
    m_vSyncs.push_back(
        std::make_unique<OutboxDiskSync>(std::vector<std::string>{Folder() + "/" + oPiece.sStored, Folder()}));
    bChanged = true;
  }
  if (bChanged && m_oKept) WriteManifest();
  return oPiece.sTemporary;
}

void OutboxDraft::Arrived() {
  if (m_lSending == 0) return;
  m_vPieces[std::exchange(m_lSending, 0) - 1].bArrived = true;
  if (!m_oKept) return;
  if (!Delivered()) {
    WriteManifest();
    return;
  }
  m_vSyncs.clear();
  if (!m_oOutbox.Remove(std::move(*m_oKept)))
    m_fnLog("Outbox: the alarm was delivered, but it cannot be removed from the outbox");
  m_oKept.reset();
}

bool OutboxDraft::Delivered() const {
  return std::all_of(m_vPieces.begin(), m_vPieces.end(), [](const PieceState& o) { return o.bArrived; });
}

bool OutboxDraft::Keep() {
  if (!m_oKept) {
    // Nothing was kept: the outbox refused the alarm (as the log said), or
    // none of its files could be copied, which is said now that it counts.
    for (PieceState& oPiece : m_vPieces) {
      if (oPiece.bArrived || oPiece.bText) continue;
      oPiece.bMissing = NotThere(oPiece.sLocalPath);
      if (!oPiece.bMissing && !oPiece.sNotKept.empty() && m_fnLog)
        m_fnLog("Outbox: " + oPiece.sNotKept + "; it is not kept");
    }
    return false;
  }
  bool bChanged = false;
  bool bLeft = false;
  for (PieceState& oPiece : m_vPieces) {
    if (oPiece.bArrived) continue;
    // A file the run never came to read, or that was not there, is kept as
    // it is now.
    if (oPiece.sStored.empty() && oPiece.bMissing && Store(oPiece)) bChanged = true;
    if (!oPiece.sStored.empty()) bLeft = true;
    else if (!oPiece.bMissing) m_fnLog("Outbox: " + oPiece.sNotKept + "; it is not kept");
  }
  if (!bLeft) {
    // Nothing that did not arrive could be kept: the alarm holds nothing
    // that a later run could send.
    m_vSyncs.clear();
    m_oOutbox.Remove(std::move(*m_oKept));
    m_oKept.reset();
    return false;
  }
  if (bChanged) WriteManifest();
  const std::string sName = m_oKept->Name();
  // The run ends soon: what it keeps must be on disk first.
  std::vector<std::string> vsPaths;
  for (const PieceState& oPiece : m_vPieces)
    if (!oPiece.sStored.empty()) vsPaths.push_back(Folder() + "/" + oPiece.sStored);
  vsPaths.insert(vsPaths.end(), {Folder() + "/" + Outbox::kManifestName, Folder(), m_oOutbox.Folder()});
  m_vSyncs.push_back(std::make_unique<OutboxDiskSync>(std::move(vsPaths)));
  for (const std::unique_ptr<OutboxDiskSync>& pSync : m_vSyncs) pSync->Wait();
  m_vSyncs.clear();
  m_oKept.reset();
  m_fnLog("Outbox: the alarm was not delivered; it is kept as " + sName);
  return true;
}

bool OutboxDraft::Lost() const {
  return std::any_of(m_vPieces.begin(), m_vPieces.end(),
                     [](const PieceState& o) { return !o.bArrived && o.sStored.empty() && !o.bMissing; });
}

OutboxDraft::PieceState& OutboxDraft::State(Piece ePiece) {
  for (PieceState& oPiece : m_vPieces)
    if (oPiece.ePiece == ePiece) return oPiece;
  m_vPieces.push_back(PieceState{});
  m_vPieces.back().ePiece = ePiece;
  return m_vPieces.back();
}

bool OutboxDraft::Store(PieceState& oPiece) {
  const std::string sStored = std::to_string(++m_iStored);
  const std::string sPath = Folder() + "/" + sStored;
  try {
    if (oPiece.bText) {
      OutboxDisk_WriteFile(sPath, oPiece.sText);
      oPiece.lSize = oPiece.sText.size();
    } else {
      oPiece.lSize = OutboxDisk_CopyFile(oPiece.sLocalPath, sPath, Outbox::kMaxFileSize);
    }
    oPiece.sStored = sStored;
    oPiece.sNotKept.clear();
    oPiece.bMissing = false;
    return true;
  } catch (const OrvError& e) {
    oPiece.sNotKept = e.Description();
    oPiece.bMissing = !oPiece.bText && NotThere(oPiece.sLocalPath);
    return false;
  }
}

OutboxManifest OutboxDraft::Manifest() const {
  OutboxManifest oManifest{m_sServer, m_sUser, m_sFolder, {}};
  for (const PieceState& oPiece : m_vPieces) {
    if (oPiece.sStored.empty()) continue;
    oManifest.files.push_back({oPiece.sStored, oPiece.lSize, oPiece.sRemotePath, oPiece.sTemporary, oPiece.bArrived});
  }
  return oManifest;
}

bool OutboxDraft::WriteManifest() {
  try {
    m_oKept->Write(Manifest());
    return true;
  } catch (const OrvError& e) {
    m_fnLog("Outbox: the kept alarm " + m_oKept->Name() + " cannot be brought up to date: " + e.Description());
    return false;
  }
}

std::string OutboxDraft::Folder() const { return m_oKept ? m_oKept->Path() : m_sWork; }
