#include "platform/filetime.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "platform/clock.h"

namespace {

SYSTEMTIME Make(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st;
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

FILETIME ToFileTime(const SYSTEMTIME& st) {
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

SYSTEMTIME ToSystemTime(const FILETIME& ft) {
  SYSTEMTIME st;
  EXPECT_TRUE(FileTimeToSystemTime(&ft, &st));
  return st;
}

void ExpectFields(const SYSTEMTIME& st, WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  EXPECT_EQ(st.wYear, y);
  EXPECT_EQ(st.wMonth, mo);
  EXPECT_EQ(st.wDay, d);
  EXPECT_EQ(st.wHour, h);
  EXPECT_EQ(st.wMinute, mi);
}

TEST(FileTime, SystemTimeRoundTripsAndKnowsTheEpochs) {
  EXPECT_EQ(FileTimeToUint64(ToFileTime(Make(1601, 1, 1))), 0u);
  EXPECT_EQ(FileTimeToUint64(ToFileTime(Make(1970, 1, 1))), kFileTimeUnixEpoch);
  FILETIME leap = ToFileTime(Make(2024, 2, 29, 23, 59, 58, 999));
  SYSTEMTIME back = ToSystemTime(leap);
  ExpectFields(back, 2024, 2, 29, 23, 59);
  EXPECT_EQ(back.wSecond, 58);
  EXPECT_EQ(back.wMilliseconds, 999);
  EXPECT_EQ(back.wDayOfWeek, 4);  // a Thursday

  FILETIME ft{};
  for (SYSTEMTIME bad : {Make(2023, 2, 29), Make(2024, 13, 1), Make(1600, 12, 31), Make(2024, 1, 1, 24),
                         Make(2024, 1, 1, 0, 0, 0, 1000), Make(2024, 0, 1)})
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
  FILETIME tooLate = Uint64ToFileTime(0x8000000000000000ull);
  SYSTEMTIME st;
  EXPECT_FALSE(FileTimeToSystemTime(&tooLate, &st));
}

TEST(FileTime, UnixTimesConvertBothWays) {
  EXPECT_EQ(FileTimeToUint64(TimeTToFileTime(0)), kFileTimeUnixEpoch);
  EXPECT_EQ(FileTimeToTimeT(TimeTToFileTime(1700000000)), 1700000000);
  EXPECT_TRUE(IsNullFileTime(TimeTToFileTime(-20000000000LL))) << "before 1601";
  timespec ts{1700000000, 123456789};
  timespec back = FileTimeToTimespec(TimespecToFileTime(ts));
  EXPECT_EQ(back.tv_sec, ts.tv_sec);
  EXPECT_EQ(back.tv_nsec, 123456700);  // 100 ns resolution
  EXPECT_EQ(FileTimeToTimeT(Uint64ToFileTime(kFileTimeUnixEpoch - 1)), -1) << "rounds down";
}

TEST(FileTime, LocalTimeFollowsTzAndDaylightSaving) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // Central Europe, without tzdata
  tzset();
  FILETIME local{}, utc{};

  FILETIME winter = ToFileTime(Make(2024, 1, 15, 12, 0, 0, 250));
  ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
  ExpectFields(ToSystemTime(local), 2024, 1, 15, 13, 0);
  EXPECT_EQ(ToSystemTime(local).wMilliseconds, 250);
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  EXPECT_EQ(utc, winter);

  FILETIME summer = ToFileTime(Make(2024, 7, 1, 12, 0));
  ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &local));
  ExpectFields(ToSystemTime(local), 2024, 7, 1, 14, 0);
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  EXPECT_EQ(utc, summer);

  // Each side of the spring change with its own offset.
  FILETIME before = ToFileTime(Make(2024, 3, 31, 0, 59));
  FILETIME after = ToFileTime(Make(2024, 3, 31, 1, 1));
  ASSERT_TRUE(FileTimeToLocalFileTime(&before, &local));
  ExpectFields(ToSystemTime(local), 2024, 3, 31, 1, 59);
  ASSERT_TRUE(FileTimeToLocalFileTime(&after, &local));
  ExpectFields(ToSystemTime(local), 2024, 3, 31, 3, 1);

  setenv("TZ", "UTC0", 1);
  tzset();
  ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &local));
  EXPECT_EQ(local, summer);
}

TEST(Clock, ManualClockMovesOnlyWhenTold) {
  ae::ManualClock clock;
  FILETIME start = clock.NowUtc();
  EXPECT_EQ(clock.SteadyMs(), 0u);
  clock.Advance(1500);
  EXPECT_EQ(clock.SteadyMs(), 1500u);
  EXPECT_EQ(FileTimeToUint64(clock.NowUtc()) - FileTimeToUint64(start), 1500u * 10000);
  clock.SetUtc(TimeTToFileTime(0));
  EXPECT_EQ(FileTimeToTimeT(clock.NowUtc()), 0);
  EXPECT_EQ(clock.SteadyMs(), 1500u) << "steady time ignores clock adjustments";

  ae::Clock& system = ae::Clock::System();
  time_t now = time(nullptr);
  EXPECT_NEAR(double(FileTimeToTimeT(system.NowUtc())), double(now), 2.0);
  uint64_t a = system.SteadyMs();
  EXPECT_LE(a, system.SteadyMs());
}

}  // namespace
