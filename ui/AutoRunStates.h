#pragma once

// The automatic run's states, as m_sAutoStatus holds them and the log names
// them ("AutoStatus=connect"), in the order the run goes through them.
namespace AutoRunState {
inline constexpr char kConnect[] = "connect";
inline constexpr char kSendMsg[] = "sendmsg";
inline constexpr char kAlarmImg[] = "alarmimg";
inline constexpr char kAutoUpload[] = "autoupload";
// Delivers what earlier runs kept; only when the outbox holds something.
inline constexpr char kOutbox[] = "outbox";
inline constexpr char kBye[] = "bye";
inline constexpr char kEnd[] = "end";
}  // namespace AutoRunState
