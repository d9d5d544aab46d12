#include "OutboxDelivery.h"

#include <algorithm>

#include "OrvError.h"
#include "OrvFtpLibrary.h"

OutboxDelivery::OutboxDelivery(const Outbox& oOutbox, OutboxLogFn fnLog)
    : m_oOutbox(oOutbox), m_fnLog(std::move(fnLog)) {
  m_vsWaiting = m_oOutbox.AlarmNames();
  std::reverse(m_vsWaiting.begin(), m_vsWaiting.end());
}

std::optional<OutboxDelivery::Put> OutboxDelivery::Next() {
  for (;;) {
    if (!m_oAlarm && !TakeNextAlarm()) return std::nullopt;
    if (SkipArrived()) continue;
    const OutboxFile& oFile = m_oManifest.files[m_lFile];
    try {
      return Put{LocalFileSource::Open(m_oAlarm->Path() + "/" + oFile.sStoredName), oFile.sRemotePath,
                 oFile.sTemporary};
    } catch (const OrvError& e) {
      m_fnLog("Outbox: kept alarm " + m_oAlarm->Name() + " is damaged and stays where it is: file " +
              oFile.sStoredName + " cannot be read (" + e.Description() + ")");
      m_oAlarm.reset();
    }
  }
}

void OutboxDelivery::Arrived() {
  if (!m_oAlarm) return;
  m_oManifest.files[m_lFile].bArrived = true;
  ++m_lFile;
  if (std::any_of(m_oManifest.files.begin(), m_oManifest.files.end(),
                  [](const OutboxFile& o) { return !o.bArrived; })) {
    // What arrived is not sent again, by this run or a later one.
    try {
      m_oAlarm->Write(m_oManifest);
    } catch (const OrvError& e) {
      m_fnLog("Outbox: kept alarm " + m_oAlarm->Name() + " cannot be brought up to date: " + e.Description());
    }
    return;
  }
  Finish();
}

void OutboxDelivery::Finish() {
  const std::string sName = m_oAlarm->Name();
  const bool bRemoved = m_oOutbox.Remove(std::move(*m_oAlarm));
  m_oAlarm.reset();
  m_fnLog(bRemoved ? "Outbox: kept alarm " + sName + " delivered"
                   : "Outbox: kept alarm " + sName + " delivered, but it cannot be removed from the outbox");
}

bool OutboxDelivery::IsRefusal(long lErrCode) {
  // A path that cannot go into a command; 501, 550, 553: the server will
  // not take that path or name.
  return lErrCode == OrvFtpResult::kMalformed || lErrCode == 501 || lErrCode == 550 || lErrCode == 553;
}

void OutboxDelivery::Refused(long lErrCode, const std::string& sWhy) {
  if (!m_oAlarm) return;
  const std::string sName = m_oAlarm->Name();
  const std::string sReason = "Error " + std::to_string(lErrCode) + (sWhy.empty() ? "" : ": " + sWhy);
  ++m_oManifest.iRefusals;
  try {
    if (m_oManifest.iRefusals >= Outbox::kMaxRefusals) {
      m_oOutbox.SetAside(std::move(*m_oAlarm));
      m_fnLog("Outbox: kept alarm " + sName + " was refused " + std::to_string(m_oManifest.iRefusals) +
              " times and is set aside in " + m_oOutbox.Folder() + "/" + Outbox::kFailedName + " (" + sReason + ")");
    } else {
      m_oAlarm->Write(m_oManifest);
      m_fnLog("Outbox: kept alarm " + sName + " was refused (" + sReason + "); it stays kept, refusal " +
              std::to_string(m_oManifest.iRefusals) + " of " + std::to_string(Outbox::kMaxRefusals));
    }
  } catch (const OrvError& e) {
    m_fnLog("Outbox: kept alarm " + sName + " was refused (" + sReason + ") and stays kept: " + e.Description());
  }
  m_oAlarm.reset();
}

void OutboxDelivery::Stop() {
  m_oAlarm.reset();
  m_vsWaiting.clear();
}

bool OutboxDelivery::SkipArrived() {
  while (m_lFile < m_oManifest.files.size() && m_oManifest.files[m_lFile].bArrived) ++m_lFile;
  if (m_lFile < m_oManifest.files.size()) return false;
  // A run that was stopped after the last file arrived left it kept.
  Finish();
  return true;
}

bool OutboxDelivery::TakeNextAlarm() {
  while (!m_vsWaiting.empty()) {
    const std::string sName = std::move(m_vsWaiting.back());
    m_vsWaiting.pop_back();
    std::optional<KeptAlarm> oAlarm = m_oOutbox.Take(sName);
    if (!oAlarm) continue;
    try {
      m_oManifest = oAlarm->Read();
    } catch (const OrvError& e) {
      m_fnLog("Outbox: kept alarm " + sName + " is damaged and stays where it is: " + e.Description());
      continue;
    }
    m_fnLog("Outbox: delivering kept alarm " + sName + " (kept for server " + m_oManifest.sServer + ", user " +
            m_oManifest.sUser + ", folder " + m_oManifest.sFolder + ")");
    m_oAlarm = std::move(oAlarm);
    m_lFile = 0;
    return true;
  }
  return false;
}
