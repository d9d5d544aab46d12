#include "OutboxDelivery.h"

#include <algorithm>

#include "OrvError.h"

OutboxDelivery::OutboxDelivery(const Outbox& oOutbox, OutboxLogFn fnLog)
    : m_oOutbox(oOutbox), m_fnLog(std::move(fnLog)) {
  m_vsWaiting = m_oOutbox.AlarmNames();
  std::reverse(m_vsWaiting.begin(), m_vsWaiting.end());
}

std::optional<OutboxDelivery::Put> OutboxDelivery::Next() {
  for (;;) {
    if (!m_oAlarm && !TakeNextAlarm()) return std::nullopt;
    const OutboxFile& oFile = m_oManifest.files[m_lFile];
    try {
      return Put{LocalFileSource::Open(m_oAlarm->Path() + "/" + oFile.sStoredName), oFile.sRemotePath};
    } catch (const OrvError& e) {
      m_fnLog("Outbox: kept alarm " + m_oAlarm->Name() + " is damaged and stays where it is: file " +
              oFile.sStoredName + " cannot be read (" + e.Description() + ")");
      m_oAlarm.reset();
    }
  }
}

void OutboxDelivery::Arrived() {
  if (!m_oAlarm) return;
  if (++m_lFile < m_oManifest.files.size()) return;
  const std::string sName = m_oAlarm->Name();
  const bool bRemoved = m_oOutbox.Remove(std::move(*m_oAlarm));
  m_oAlarm.reset();
  m_fnLog(bRemoved ? "Outbox: kept alarm " + sName + " delivered"
                   : "Outbox: kept alarm " + sName + " delivered, but it cannot be removed from the outbox");
}

void OutboxDelivery::Stop() {
  m_oAlarm.reset();
  m_vsWaiting.clear();
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
