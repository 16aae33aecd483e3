// ralto-sim's texts: what a person types, and what it prints.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "sim_text.h"

namespace {

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms = 0) {
  SYSTEMTIME st;
  st.wYear = year, st.wMonth = month, st.wDay = day, st.wHour = hour, st.wMinute = minute, st.wSecond = second;
  st.wMilliseconds = ms;
  FILETIME ft;
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

class InZone {
 public:
  explicit InZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~InZone() {
    unsetenv("TZ");
    tzset();
  }
};

TEST(RaltoSimText, StatesByKindNumbersAndNames) {
  uint8_t state = 99;
  EXPECT_TRUE(StateFromName("level", "hihi", &state));
  EXPECT_EQ(state, 4);
  EXPECT_TRUE(StateFromName("roc", "rocd", &state));
  EXPECT_EQ(state, 1);
  EXPECT_TRUE(StateFromName("bit", "alarm", &state));
  EXPECT_EQ(state, 1);
  EXPECT_TRUE(StateFromName("", "rocu", &state)) << "an unknown item takes any kind's names";
  EXPECT_EQ(state, 2);
  EXPECT_TRUE(StateFromName("bit", "7", &state));
  EXPECT_EQ(state, 7);
  state = 99;
  for (const char* bad : {"hihi", "HiHi", "", "256", "-1", "4x"}) {
    EXPECT_FALSE(StateFromName("bit", bad, &state)) << bad;
  }
  EXPECT_EQ(state, 99);
  EXPECT_EQ(StateName("level", 1), "lolo");
  EXPECT_EQ(StateName("roc", 0), "normal");
  EXPECT_EQ(StateName("roc", 3), "state 3");
  EXPECT_EQ(StateNames("level"), "normal|lolo|lo|hi|hihi");
  EXPECT_EQ(StateNames("bit"), "normal|alarm");
}

TEST(RaltoSimText, IsoTimesInEveryZoneFormAndLocalText) {
  InZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  FILETIME t;
  ASSERT_TRUE(ParseIsoTime("2024-05-01T10:15:30Z", &t));
  EXPECT_EQ(t, Utc(2024, 5, 1, 10, 15, 30));
  ASSERT_TRUE(ParseIsoTime("2024-05-01 12:15:30", &t)) << "local time, summer: UTC+2";
  EXPECT_EQ(t, Utc(2024, 5, 1, 10, 15, 30));
  ASSERT_TRUE(ParseIsoTime("2024-01-01T01:00", &t)) << "local time, winter: UTC+1";
  EXPECT_EQ(t, Utc(2024, 1, 1, 0, 0, 0));
  ASSERT_TRUE(ParseIsoTime("2024-05-01T10:15:30.25+02:00", &t));
  EXPECT_EQ(t, Utc(2024, 5, 1, 8, 15, 30, 250));
  ASSERT_TRUE(ParseIsoTime("2024-05-01T10:15:30-0130", &t));
  EXPECT_EQ(t, Utc(2024, 5, 1, 11, 45, 30));
  ASSERT_TRUE(ParseIsoTime("2024-05-01T10:15:30.1234567Z", &t));
  EXPECT_EQ(FileTimeToUint64(t), FileTimeToUint64(Utc(2024, 5, 1, 10, 15, 30)) + 1'234'567);

  FILETIME untouched = Utc(2000, 1, 1, 0, 0, 0);
  t = untouched;
  for (const char* bad : {"", "2024-05-01", "2024-13-01T00:00:00Z", "2024-02-30T00:00Z", "2024-05-01T10:15:30.Z",
                          "2024-05-01T10:15:30ZZ", "2024-05-01T10:15:30+2", "2024-05-01T25:00Z", "yesterday",
                          "2024-05-01T10:15:30+02:00x"}) {
    EXPECT_FALSE(ParseIsoTime(bad, &t)) << bad;
  }
  EXPECT_EQ(t, untouched);

  EXPECT_EQ(LocalTimeText(Utc(2024, 5, 1, 10, 15, 30, 45)), "2024-05-01 12:15:30.045");
  EXPECT_EQ(LocalTimeText(FILETIME{}), "-");
}

TEST(RaltoSimText, JsonAndNumbers) {
  EXPECT_EQ(JsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
  EXPECT_EQ(JsonString("T-101 Füllstand"), "\"T-101 Füllstand\"");
  int32_t hr = 0;
  EXPECT_TRUE(ParseHResult("0x80004005", &hr));
  EXPECT_EQ(static_cast<uint32_t>(hr), 0x80004005u);
  EXPECT_TRUE(ParseHResult("-2147467259", &hr));
  EXPECT_EQ(static_cast<uint32_t>(hr), 0x80004005u);
  EXPECT_TRUE(ParseHResult("2147500037", &hr)) << "the unsigned spelling";
  EXPECT_EQ(static_cast<uint32_t>(hr), 0x80004005u);
  for (const char* bad : {"", "0x", "0x100000000", "4294967296", "E_FAIL", "12 "}) EXPECT_FALSE(ParseHResult(bad, &hr)) << bad;
  uint32_t count = 5;
  EXPECT_TRUE(ParseCount("4294967295", &count));
  EXPECT_EQ(count, 4294967295u);
  for (const char* bad : {"", "-1", "1.5", "4294967296"}) EXPECT_FALSE(ParseCount(bad, &count)) << bad;
}

}  // namespace
