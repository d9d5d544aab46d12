#pragma once

#include <optional>
#include <string>
#include <vector>

#include "LocalFileSource.h"
#include "Outbox.h"

// Sends the kept alarms, oldest first, one file at a time, each file that
// has not arrived yet to its own remote path, marks each as it arrives, and
// removes an alarm once all its files arrived. A damaged alarm is skipped
// with a log line and stays where it is; an alarm that another run holds is
// left to that run; one that the server refuses stays kept for later runs
// and is set aside once refused Outbox::kMaxRefusals times.
class OutboxDelivery {
 public:
  OutboxDelivery(const Outbox& oOutbox, OutboxLogFn fnLog);

  struct Put {
    LocalFileSource oData;
    std::string sRemotePath;
    std::string sTemporary;  // the name to put it under first; empty for any
  };
  // The next file to send; nothing once no kept alarm is left to send.
  std::optional<Put> Next();
  // The file Next gave last arrived.
  void Arrived();
  // Whether a put's result code is the server refusing that file (its path
  // or name), which the next alarm need not meet, rather than a failure of
  // the connection.
  static bool IsRefusal(long lErrCode);
  // The server refused the file Next gave last, for the reason sWhy: its
  // alarm stays kept, or is set aside, and delivery goes on with the next.
  void Refused(long lErrCode, const std::string& sWhy);
  // Delivery ends early: the alarm on its way stays kept, whole.
  void Stop();

 private:
  bool TakeNextAlarm();
  // Passes over the files of the alarm that arrived; true when none is left
  // to send and the alarm went.
  bool SkipArrived();
  // Removes the alarm, all of whose files arrived.
  void Finish();

  const Outbox& m_oOutbox;
  OutboxLogFn m_fnLog;
  std::vector<std::string> m_vsWaiting;  // names still to look at, the oldest last
  std::optional<KeptAlarm> m_oAlarm;
  OutboxManifest m_oManifest;
  std::size_t m_lFile = 0;  // the file of m_oAlarm to send next
};
