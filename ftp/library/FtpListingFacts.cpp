#include "FtpListingFacts.h"

#include <array>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digits of sText, all of it, as a number; -1 for anything else.
int Digits(std::string_view sText) {
  if (sText.empty() || sText.size() > 4) return -1;
  int i = 0;
  for (const char c : sText) {
    if (!IsDigit(c)) return -1;
    i = i * 10 + (c - '0');
  }
  return i;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t lEra = (y >= 0 ? y : y - 399) / 400;
  const int64_t lYearOfEra = y - lEra * 400;
  const int64_t lDayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t lDayOfEra = lYearOfEra * 365 + lYearOfEra / 4 - lYearOfEra / 100 + lDayOfYear;
  return lEra * 146097 + lDayOfEra - 719468;
}

int64_t Seconds(int y, int mon, int d, int h, int m, int s) {
  if (y < 1970 || y > 9999 || mon < 1 || mon > 12 || d < 1 || d > 31 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 ||
      s > 60)
    return -1;
  return DaysFromCivil(y, mon, d) * 86400 + h * 3600 + m * 60 + s;
}

int YearOf(int64_t lSeconds) {
  // Civil year of a day count (inverse of DaysFromCivil, year only).
  int64_t z = lSeconds / 86400 + 719468;
  const int64_t lEra = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t lDayOfEra = z - lEra * 146097;
  const int64_t lYearOfEra = (lDayOfEra - lDayOfEra / 1460 + lDayOfEra / 36524 - lDayOfEra / 146096) / 365;
  const int64_t lDayOfYear = lDayOfEra - (365 * lYearOfEra + lYearOfEra / 4 - lYearOfEra / 100);
  const int64_t lMonthIndex = (5 * lDayOfYear + 2) / 153;
  const int64_t lYear = lYearOfEra + lEra * 400 + (lMonthIndex >= 10 ? 1 : 0);
  return static_cast<int>(lYear);
}

int Month(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  if (s.size() != 3) return -1;
  char szLower[3];
  for (int i = 0; i < 3; ++i) szLower[i] = static_cast<char>(s[static_cast<std::size_t>(i)] | 0x20);
  for (std::size_t i = 0; i < kMonths.size(); ++i)
    if (std::string_view(szLower, 3) == kMonths[i]) return static_cast<int>(i) + 1;
  return -1;
}

}  // namespace

int64_t FtpFacts_Size(std::string_view sText) {
  int64_t lSize = 0;
  int iDigits = 0;
  for (std::size_t i = 0; i < sText.size(); ++i) {
    const char c = sText[i];
    if (IsDigit(c)) {
      if (++iDigits > 18) return -1;
      lSize = lSize * 10 + (c - '0');
    } else if ((c != ',' && c != '.') || i == 0 || i + 1 == sText.size()) {
      return -1;
    }
  }
  return iDigits == 0 ? -1 : lSize;
}

int64_t FtpFacts_MlsdTime(std::string_view sText) {
  const std::size_t lDot = sText.find('.');
  if (lDot != std::string_view::npos) sText = sText.substr(0, lDot);
  if (sText.size() != 14) return -1;
  return Seconds(Digits(sText.substr(0, 4)), Digits(sText.substr(4, 2)), Digits(sText.substr(6, 2)),
                 Digits(sText.substr(8, 2)), Digits(sText.substr(10, 2)), Digits(sText.substr(12, 2)));
}

int64_t FtpFacts_UnixTime(std::string_view sMonth, std::string_view sDay, std::string_view sTimeOrYear, int64_t lNow) {
  const int iMonth = Month(sMonth);
  const int iDay = Digits(sDay);
  if (iMonth < 0 || iDay < 0) return -1;
  const std::size_t lColon = sTimeOrYear.find(':');
  if (lColon == std::string_view::npos) return Seconds(Digits(sTimeOrYear), iMonth, iDay, 0, 0, 0);
  const int iHour = Digits(sTimeOrYear.substr(0, lColon));
  const int iMinute = Digits(sTimeOrYear.substr(lColon + 1));
  if (lNow < 0) return -1;
  const int iYear = YearOf(lNow);
  const int64_t lThisYear = Seconds(iYear, iMonth, iDay, iHour, iMinute, 0);
  if (lThisYear >= 0 && lThisYear <= lNow + 86400) return lThisYear;
  return Seconds(iYear - 1, iMonth, iDay, iHour, iMinute, 0);
}

int64_t FtpFacts_WindowsTime(std::string_view sDate, std::string_view sTime) {
  if (sDate.size() < 8 || (sDate[2] != '-' && sDate[2] != '/') || sDate[5] != sDate[2]) return -1;
  const int iMonth = Digits(sDate.substr(0, 2));
  const int iDay = Digits(sDate.substr(3, 2));
  int iYear = Digits(sDate.substr(6));
  if (iYear < 0) return -1;
  if (sDate.size() == 8) iYear += iYear < 70 ? 2000 : 1900;
  bool bPm = false, bAm = false;
  if (sTime.size() > 2) {
    const std::string_view sHalf = sTime.substr(sTime.size() - 2);
    bPm = sHalf == "PM" || sHalf == "pm";
    bAm = sHalf == "AM" || sHalf == "am";
    if (bPm || bAm) sTime.remove_suffix(2);
  }
  const std::size_t lColon = sTime.find(':');
  if (lColon == std::string_view::npos) return -1;
  int iHour = Digits(sTime.substr(0, lColon));
  const int iMinute = Digits(sTime.substr(lColon + 1));
  if ((bAm || bPm) && (iHour < 1 || iHour > 12)) return -1;
  if (bAm && iHour == 12) iHour = 0;
  if (bPm && iHour != 12) iHour += 12;
  return Seconds(iYear, iMonth, iDay, iHour, iMinute, 0);
}
