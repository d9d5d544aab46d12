#include "OutboxDraft.h"

#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "OrvError.h"

OutboxDraft::~OutboxDraft() {
  if (!m_sWork.empty()) OutboxDisk_RemoveAll(m_sWork);
}

void OutboxDraft::AddText(const std::string& sRemotePath, std::string sText) {
  Part& oPart = m_vParts[PartIndex(sRemotePath)];
  oPart.bText = true;
  oPart.sText = std::move(sText);
}

void OutboxDraft::AddFile(const std::string& sRemotePath, const std::string& sLocalPath) {
  m_vParts[PartIndex(sRemotePath)].sLocalPath = sLocalPath;
}

void OutboxDraft::Sending(const std::string& sRemotePath, const std::string& sLocalPath) {
  const std::size_t lIndex = PartIndex(sRemotePath);
  m_lSending = lIndex + 1;
  Part& oPart = m_vParts[lIndex];
  oPart.bArrived = false;
  if (sLocalPath.empty()) return;
  oPart.sLocalPath = sLocalPath;
  Copy(oPart);
}

void OutboxDraft::Arrived() {
  if (m_lSending != 0) m_vParts[m_lSending - 1].bArrived = true;
  m_lSending = 0;
}

bool OutboxDraft::Delivered() const {
  return std::all_of(m_vParts.begin(), m_vParts.end(), [](const Part& o) { return o.bArrived; });
}

bool OutboxDraft::Keep(const std::string& sServer, const std::string& sUser, const std::string& sFolder,
                       const OutboxLogFn& fnLog) {
  if (Delivered()) return true;
  OutboxManifest oManifest{sServer, sUser, sFolder, {}};
  std::uint64_t lSize = 0;
  try {
    for (Part& oPart : m_vParts) {
      if (oPart.bArrived) continue;
      if (oPart.bText) {
        const std::string sStored = NewStoredName();
        OutboxDisk_WriteFile(WorkFolder() + "/" + sStored, oPart.sText);
        oManifest.files.push_back({sStored, oPart.sText.size(), oPart.sRemotePath});
        lSize += oPart.sText.size();
        continue;
      }
      // A file the run never came to read is copied now.
      if (oPart.sCopy.empty()) Copy(oPart);
      if (oPart.sCopy.empty()) {
        if (m_sWork.empty()) throw OrvError(OrvError::kPathFileAccess, oPart.sNotKept, "Outbox");
        fnLog("Outbox: " + oPart.sNotKept + "; it is not kept");
        continue;
      }
      oManifest.files.push_back({oPart.sCopy, oPart.lSize, oPart.sRemotePath});
      lSize += oPart.lSize;
    }
    if (oManifest.files.empty()) {
      fnLog("Outbox: the alarm could not be kept: none of its parts can be read");
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

std::size_t OutboxDraft::PartIndex(const std::string& sRemotePath) {
  for (std::size_t i = 0; i < m_vParts.size(); ++i)
    if (m_vParts[i].sRemotePath == sRemotePath) return i;
  m_vParts.push_back(Part{});
  m_vParts.back().sRemotePath = sRemotePath;
  return m_vParts.size() - 1;
}

void OutboxDraft::Copy(Part& oPart) {
  try {
    const std::string sStored = NewStoredName();
    const std::string sWork = WorkFolder();
    oPart.lSize = OutboxDisk_CopyFile(oPart.sLocalPath, sWork + "/" + sStored, Outbox::kMaxFileSize);
    if (!oPart.sCopy.empty()) ::unlink((sWork + "/" + oPart.sCopy).c_str());
    oPart.sCopy = sStored;
    oPart.sNotKept.clear();
  } catch (const OrvError& e) {
    oPart.sNotKept = e.Description();
  }
}

std::string OutboxDraft::NewStoredName() { return std::to_string(++m_iStored); }

const std::string& OutboxDraft::WorkFolder() {
  if (m_sWork.empty()) std::tie(m_sWork, m_fdWorkLock) = m_oOutbox.NewWorkFolder(m_sStamp);
  return m_sWork;
}
