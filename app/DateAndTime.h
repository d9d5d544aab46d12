#pragma once

#include <cstdint>
#include <string>

// A calendar time split into its fields, each 16 bits wide.
struct SystemTime {
  uint16_t wYear = 0;
  uint16_t wMonth = 0;
  uint16_t wDayOfWeek = 0;
  uint16_t wDay = 0;
  uint16_t wHour = 0;
  uint16_t wMinute = 0;
  uint16_t wSecond = 0;
  uint16_t wMilliseconds = 0;
};

// Time texts: the compact UTC stamp YYYYMMDDhhmmssfff and the local display
// form DD.MM.YYYY hh:mm:ss.fff.
std::string DAT_GetUtcTimeStamp();
std::string DAT_GetLocalTimeText();
std::string DAT_FormatCompact(const SystemTime& st);
std::string DAT_FormatDisplay(const SystemTime& st);
SystemTime DAT_ParseCompact(const std::string& s);
SystemTime DAT_UtcToLocal(const SystemTime& stUtc);
std::string DAT_UtcToLocalText(const SystemTime& stUtc);
std::string DAT_CompactUtcToLocalText(const std::string& s);
// The compact stamp one millisecond after s, by the calendar: 999 ms roll
// over into the next second, a day's last millisecond into the next day.
std::string DAT_NextMillisecond(const std::string& s);

// The current UTC time, and the runtime's timer: seconds since local
// midnight in single precision, the key of the time-text caches.
SystemTime DAT_SystemTimeNow();
float DAT_Timer();
