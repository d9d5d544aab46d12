#pragma once

#include <cstdint>
#include <string_view>

// A listing's facts about a file, read from the text the server sends.
// Each gives -1 for a text it cannot read; times are seconds since 1970 UTC.

// A size: decimal digits, optionally grouped by "," or "." (Windows
// servers), at most 18 digits.
int64_t FtpFacts_Size(std::string_view sText);

// MLSD's modify fact: YYYYMMDDHHMMSS, optionally with a fraction.
int64_t FtpFacts_MlsdTime(std::string_view sText);

// An "ls -l" date: month ("Dec"), day, and "HH:MM" or a year. A date with a
// time has no year; it is taken as the latest such date not more than a day
// after lNow (seconds since 1970), as ls prints it for the last six months.
int64_t FtpFacts_UnixTime(std::string_view sMonth, std::string_view sDay, std::string_view sTimeOrYear, int64_t lNow);

// A Windows server's date and time: "MM-DD-YY" or "MM-DD-YYYY" and
// "HH:MMAM" / "HH:MMPM" or "HH:MM".
int64_t FtpFacts_WindowsTime(std::string_view sDate, std::string_view sTime);
