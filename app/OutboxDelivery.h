#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LocalFileSource.h"
#include "Outbox.h"

// Sends the kept alarms, oldest first, one file at a time, each file to its
// own remote path, and removes an alarm once all its files arrived. A
// damaged alarm is skipped with a log line and stays where it is; an alarm
// that another run holds is left to that run.
class OutboxDelivery {
 public:
  OutboxDelivery(const Outbox& oOutbox, OutboxLogFn fnLog);

  struct Put {
    LocalFileSource oData;
    std::string sRemotePath;
  };
  // The next file to send; nothing once no kept alarm is left to send.
  std::optional<Put> Next();
  // The file Next gave last arrived.
  void Arrived();
  // Delivery ends early: the alarm on its way stays kept, whole.
  void Stop();

 private:
  bool TakeNextAlarm();

  const Outbox& m_oOutbox;
  OutboxLogFn m_fnLog;
  std::vector<std::string> m_vsWaiting;  // names still to look at, the oldest last
  std::optional<KeptAlarm> m_oAlarm;
  OutboxManifest m_oManifest;
  std::size_t m_lFile = 0;  // the file of m_oAlarm to send next
};
