#include "DateAndTime.h"

#include <chrono>
#include <ctime>

#include "LibOrv.h"

namespace {

// Decimal digits of n padded with zeros to iWidth; wider numbers keep
// their last iWidth digits.
std::string Digits(unsigned n, int iWidth) {
  std::string s(static_cast<std::size_t>(iWidth), '0');
  for (int i = iWidth - 1; i >= 0; --i) {
    s[static_cast<std::size_t>(i)] = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  return s;
}

struct TimeCache {
  bool bValid = false;
  float fTimer = 0;
  std::string sText;
};

std::tm ToTm(const SystemTime& st) {
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  return tm;
}

SystemTime FromTm(const std::tm& tm, uint16_t wMilliseconds) {
  SystemTime st;
  st.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
  st.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
  st.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  st.wDay = static_cast<uint16_t>(tm.tm_mday);
  st.wHour = static_cast<uint16_t>(tm.tm_hour);
  st.wMinute = static_cast<uint16_t>(tm.tm_min);
  st.wSecond = static_cast<uint16_t>(tm.tm_sec);
  st.wMilliseconds = wMilliseconds;
  return st;
}

uint16_t Field(const std::string& s, std::size_t lStart, std::size_t lLen) {
  if (lStart >= s.size()) return 0;
  return static_cast<uint16_t>(static_cast<long>(LibOrv_Val(s.substr(lStart, lLen))));
}

}  // namespace

SystemTime DAT_SystemTimeNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return FromTm(tm, static_cast<uint16_t>(ms % 1000));
}

float DAT_Timer() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  double dSeconds = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + static_cast<double>(ms % 1000) / 1000.0;
  return static_cast<float>(dSeconds);
}

std::string DAT_FormatCompact(const SystemTime& st) {
  return Digits(st.wYear, 4) + Digits(st.wMonth, 2) + Digits(st.wDay, 2) + Digits(st.wHour, 2) + Digits(st.wMinute, 2) +
         Digits(st.wSecond, 2) + Digits(st.wMilliseconds, 3);
}

std::string DAT_FormatDisplay(const SystemTime& st) {
  return Digits(st.wDay, 2) + "." + Digits(st.wMonth, 2) + "." + Digits(st.wYear, 4) + " " + Digits(st.wHour, 2) + ":" +
         Digits(st.wMinute, 2) + ":" + Digits(st.wSecond, 2) + "." + Digits(st.wMilliseconds, 3);
}

SystemTime DAT_ParseCompact(const std::string& s) {
  SystemTime st;
  st.wYear = Field(s, 0, 4);
  st.wMonth = Field(s, 4, 2);
  st.wDay = Field(s, 6, 2);
  st.wHour = Field(s, 8, 2);
  st.wMinute = Field(s, 10, 2);
  st.wSecond = Field(s, 12, 2);
  st.wMilliseconds = Field(s, 14, 3);
  st.wDayOfWeek = 0;
  return st;
}

SystemTime DAT_UtcToLocal(const SystemTime& stUtc) {
  std::tm tmUtc = ToTm(stUtc);
  std::time_t t = timegm(&tmUtc);
  std::tm tmLocal{};
  localtime_r(&t, &tmLocal);
  return FromTm(tmLocal, stUtc.wMilliseconds);
}

std::string DAT_UtcToLocalText(const SystemTime& stUtc) { return DAT_FormatDisplay(DAT_UtcToLocal(stUtc)); }

std::string DAT_CompactUtcToLocalText(const std::string& s) { return DAT_UtcToLocalText(DAT_ParseCompact(s)); }

std::string DAT_NextMillisecond(const std::string& s) {
  const SystemTime st = DAT_ParseCompact(s);
  std::tm tm = ToTm(st);
  std::time_t t = timegm(&tm);
  unsigned uMs = st.wMilliseconds + 1u;
  t += static_cast<std::time_t>(uMs / 1000);
  std::tm tmNext{};
  gmtime_r(&t, &tmNext);
  return DAT_FormatCompact(FromTm(tmNext, static_cast<uint16_t>(uMs % 1000)));
}

namespace {

// The text fnCompute gives, computed anew only when the timer has moved on.
template <typename Fn>
const std::string& CachedText(TimeCache& cache, Fn fnCompute) {
  float fTimer = DAT_Timer();
  if (!cache.bValid || fTimer != cache.fTimer) {
    cache.bValid = true;
    cache.fTimer = fTimer;
    cache.sText = fnCompute();
  }
  return cache.sText;
}

}  // namespace

std::string DAT_GetUtcTimeStamp() {
  static TimeCache cache;
  return CachedText(cache, [] { return DAT_FormatCompact(DAT_SystemTimeNow()); });
}

std::string DAT_GetLocalTimeText() {
  static TimeCache cache;
  return CachedText(cache, [] { return DAT_UtcToLocalText(DAT_SystemTimeNow()); });
}
