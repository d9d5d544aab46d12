#include "DateAndTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

namespace {

// Sets TZ for the life of the object.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* szTz) {
    const char* szOld = std::getenv("TZ");
    m_bHadOld = szOld != nullptr;
    if (m_bHadOld) m_sOld = szOld;
    setenv("TZ", szTz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (m_bHadOld) setenv("TZ", m_sOld.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool m_bHadOld = false;
  std::string m_sOld;
};

TEST(DateAndTime, CompactRoundTrip) {
  std::mt19937 rng(7);
  for (int i = 0; i < 500; ++i) {
    SystemTime st;
    st.wYear = static_cast<uint16_t>(1601 + rng() % 8398);
    st.wMonth = static_cast<uint16_t>(1 + rng() % 12);
    st.wDay = static_cast<uint16_t>(1 + rng() % 28);
    st.wHour = static_cast<uint16_t>(rng() % 24);
    st.wMinute = static_cast<uint16_t>(rng() % 60);
    st.wSecond = static_cast<uint16_t>(rng() % 60);
    st.wMilliseconds = static_cast<uint16_t>(rng() % 1000);
    std::string s = DAT_FormatCompact(st);
    ASSERT_EQ(s.size(), 17u);
    EXPECT_EQ(DAT_FormatCompact(DAT_ParseCompact(s)), s);
  }
  EXPECT_EQ(DAT_ParseCompact("20260102030405006").wDayOfWeek, 0);
}

TEST(DateAndTime, FormatsPadAndKeepLastDigits) {
  SystemTime st;
  st.wYear = 7;
  st.wMonth = 1;
  st.wDay = 2;
  st.wHour = 3;
  st.wMinute = 4;
  st.wSecond = 5;
  st.wMilliseconds = 6;
  EXPECT_EQ(DAT_FormatCompact(st), "00070102030405006");
  EXPECT_EQ(DAT_FormatDisplay(st), "02.01.0007 03:04:05.006");
  st.wYear = 12345;
  st.wMilliseconds = 1234;
  EXPECT_EQ(DAT_FormatCompact(st), "23450102030405234");
}

TEST(DateAndTime, ParseReadsNonNumericFieldsAsZero) {
  SystemTime st = DAT_ParseCompact("2026xx07");
  EXPECT_EQ(st.wYear, 2026);
  EXPECT_EQ(st.wMonth, 0);
  EXPECT_EQ(st.wDay, 7);
  EXPECT_EQ(st.wHour, 0);
}

TEST(DateAndTime, NextMillisecondRollsOverByTheCalendar) {
  EXPECT_EQ(DAT_NextMillisecond("20261206172800000"), "20261206172800001");
  EXPECT_EQ(DAT_NextMillisecond("20261206172800998"), "20261206172800999");
  EXPECT_EQ(DAT_NextMillisecond("20261206172800999"), "20261206172801000");
  EXPECT_EQ(DAT_NextMillisecond("20261206172859999"), "20261206172900000");
  EXPECT_EQ(DAT_NextMillisecond("20261206235959999"), "20261207000000000");
  EXPECT_EQ(DAT_NextMillisecond("20261130235959999"), "20261201000000000");
  EXPECT_EQ(DAT_NextMillisecond("20261231235959999"), "20270101000000000");
  EXPECT_EQ(DAT_NextMillisecond("20280228235959999"), "20280229000000000");
  EXPECT_EQ(DAT_NextMillisecond("20260228235959999"), "20260301000000000");
  EXPECT_EQ(DAT_NextMillisecond("21000228235959999"), "21000301000000000");
}

TEST(DateAndTime, LocalDisplayFormUnderAFixedZone) {
  ScopedTimeZone tz("XXX-1");  // one hour ahead of UTC
  EXPECT_EQ(DAT_CompactUtcToLocalText("20261207235959987"), "08.12.2026 00:59:59.987");
  EXPECT_EQ(DAT_CompactUtcToLocalText("20260101000000000"), "01.01.2026 01:00:00.000");
  ScopedTimeZone berlin("Europe/Berlin");
  EXPECT_EQ(DAT_CompactUtcToLocalText("20260701120000000"), "01.07.2026 14:00:00.000");
}

TEST(DateAndTime, TextsWithinOneTickAreIdentical) {
  // Retry across a tick boundary; within one tick the texts must agree.
  for (int i = 0; i < 20; ++i) {
    float fBefore = DAT_Timer();
    std::string a = DAT_GetUtcTimeStamp();
    std::string b = DAT_GetUtcTimeStamp();
    std::string c = DAT_GetLocalTimeText();
    std::string d = DAT_GetLocalTimeText();
    if (DAT_Timer() != fBefore) continue;
    EXPECT_EQ(a, b);
    EXPECT_EQ(c, d);
    EXPECT_EQ(a.size(), 17u);
    EXPECT_EQ(c.size(), 23u);
    return;
  }
  FAIL() << "the timer never held still";
}

TEST(DateAndTime, StampFollowsTheClock) {
  std::string a = DAT_GetUtcTimeStamp();
  struct timespec ts {
    0, 30 * 1000 * 1000
  };
  nanosleep(&ts, nullptr);
  std::string b = DAT_GetUtcTimeStamp();
  EXPECT_LT(a, b);
}

}  // namespace
