#include "OutboxDraft.h"

#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "OrvError.h"

OutboxDraft::~OutboxDraft() {
  if (!m_sWork.empty()) OutboxDisk_RemoveAll(m_sWork);
}

void OutboxDraft::AddText(const std::string& sRemotePath, std::string sText) {
  Piece& oPiece = m_vPieces[PieceIndex(sRemotePath)];
  oPiece.bText = true;
  oPiece.sText = std::move(sText);
}

void OutboxDraft::AddFile(const std::string& sRemotePath, const std::string& sLocalPath) {
  m_vPieces[PieceIndex(sRemotePath)].sLocalPath = sLocalPath;
}

void OutboxDraft::Sending(const std::string& sRemotePath, const std::string& sLocalPath) {
  const std::size_t lIndex = PieceIndex(sRemotePath);
  m_lSending = lIndex + 1;
  Piece& oPiece = m_vPieces[lIndex];
  oPiece.bArrived = false;
  if (sLocalPath.empty()) return;
  oPiece.sLocalPath = sLocalPath;
  Copy(oPiece);
}

void OutboxDraft::Arrived() {
  if (m_lSending != 0) m_vPieces[m_lSending - 1].bArrived = true;
  m_lSending = 0;
}

bool OutboxDraft::Delivered() const {
  return std::all_of(m_vPieces.begin(), m_vPieces.end(), [](const Piece& o) { return o.bArrived; });
}

bool OutboxDraft::Keep(const std::string& sServer, const std::string& sUser, const std::string& sFolder,
                       const OutboxLogFn& fnLog) {
  if (Delivered()) return true;
  OutboxManifest oManifest{sServer, sUser, sFolder, {}};
  std::uint64_t lSize = 0;
  try {
    for (Piece& oPiece : m_vPieces) {
      if (oPiece.bArrived) continue;
      if (oPiece.bText) {
        const std::string sStored = NewStoredName();
        OutboxDisk_WriteFile(WorkFolder() + "/" + sStored, oPiece.sText);
        oManifest.files.push_back({sStored, oPiece.sText.size(), oPiece.sRemotePath});
        lSize += oPiece.sText.size();
        continue;
      }
      // A file the run never came to read is copied now.
      if (oPiece.sCopy.empty()) Copy(oPiece);
      if (oPiece.sCopy.empty()) {
        if (m_sWork.empty()) throw OrvError(OrvError::kPathFileAccess, oPiece.sNotKept, "Outbox");
        fnLog("Outbox: " + oPiece.sNotKept + "; it is not kept");
        continue;
      }
      oManifest.files.push_back({oPiece.sCopy, oPiece.lSize, oPiece.sRemotePath});
      lSize += oPiece.lSize;
    }
    if (oManifest.files.empty()) {
      fnLog("Outbox: the alarm could not be kept: none of its pieces can be read");
      return false;
    }
    OutboxDisk_WriteFile(m_sWork + "/" + Outbox::kManifestName, OutboxManifest_Text(oManifest));
    OutboxDisk_SyncFolder(m_sWork);
    const std::string sName = m_oOutbox.Admit(m_sWork, lSize, fnLog);
    m_sWork.clear();
    fnLog("Outbox: the alarm was not delivered; it is kept as " + sName);
    return true;
  } catch (const OrvError& e) {
    fnLog("Outbox: the alarm could not be kept: " + e.Description());
    return false;
  }
}

std::size_t OutboxDraft::PieceIndex(const std::string& sRemotePath) {
  for (std::size_t i = 0; i < m_vPieces.size(); ++i)
    if (m_vPieces[i].sRemotePath == sRemotePath) return i;
  m_vPieces.push_back(Piece{});
  m_vPieces.back().sRemotePath = sRemotePath;
  return m_vPieces.size() - 1;
}

void OutboxDraft::Copy(Piece& oPiece) {
  try {
    const std::string sStored = NewStoredName();
    const std::string sWork = WorkFolder();
    oPiece.lSize = OutboxDisk_CopyFile(oPiece.sLocalPath, sWork + "/" + sStored, Outbox::kMaxFileSize);
    if (!oPiece.sCopy.empty()) ::unlink((sWork + "/" + oPiece.sCopy).c_str());
    oPiece.sCopy = sStored;
    oPiece.sNotKept.clear();
  } catch (const OrvError& e) {
    oPiece.sNotKept = e.Description();
  }
}

std::string OutboxDraft::NewStoredName() { return std::to_string(++m_iStored); }

const std::string& OutboxDraft::WorkFolder() {
  if (m_sWork.empty()) std::tie(m_sWork, m_fdWorkLock) = m_oOutbox.NewWorkFolder(m_sStamp);
  return m_sWork;
}
