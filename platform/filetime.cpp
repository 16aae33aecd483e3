#include "platform/filetime.h"

#include <time.h>

#include <cerrno>
#include <chrono>

namespace {

constexpr int64_t kTicksPerMs = 10'000;
constexpr int64_t kTicksPerDay = 86'400 * int64_t(kFileTimeTicksPerSecond);
// Signed arithmetic keeps the Windows limit: the high bit is never set.
constexpr int64_t kMaxTicks = INT64_MAX;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1601-01-01 to the civil date.
int64_t DaysSince1601(int y, unsigned m, unsigned d) {
  using namespace std::chrono;
  constexpr sys_days kBase = year{1601} / January / 1;
  return (sys_days{year{y} / month{m} / day{d}} - kBase).count();
}

// Seconds since 1970 to FILETIME ticks plus a sub-second remainder; false
// when out of range.
bool UnixToTicks(int64_t seconds, int64_t subTicks, int64_t& ticks) {
  constexpr int64_t kEpochSeconds = int64_t(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
  if (seconds < -kEpochSeconds) return false;
  if (seconds > (kMaxTicks - subTicks) / int64_t(kFileTimeTicksPerSecond) - kEpochSeconds)
    return false;
  ticks = (seconds + kEpochSeconds) * int64_t(kFileTimeTicksPerSecond) + subTicks;
  return true;
}

// Unix seconds (floor) and the remaining ticks of a FILETIME.
void TicksToUnix(uint64_t ticks, int64_t& seconds, int64_t& subTicks) {
  if (ticks > uint64_t(kMaxTicks)) ticks = uint64_t(kMaxTicks);
  int64_t rel = int64_t(ticks) - int64_t(kFileTimeUnixEpoch);
  seconds = FloorDiv(rel, kFileTimeTicksPerSecond);
  subTicks = rel - seconds * int64_t(kFileTimeTicksPerSecond);
}

}  // namespace

FILETIME GetSystemTimeAsFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return TimespecToFileTime(ts);
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* st) {
  if (!fileTime || !st) return false;
  uint64_t ticks = FileTimeToUint64(*fileTime);
  if (ticks > uint64_t(kMaxTicks)) return false;
  using namespace std::chrono;
  int64_t days = int64_t(ticks) / kTicksPerDay;
  int64_t rest = int64_t(ticks) % kTicksPerDay;
  sys_days date = sys_days{year{1601} / January / 1} + std::chrono::days{days};
  year_month_day ymd{date};
  st->wYear = WORD(int(ymd.year()));
  st->wMonth = WORD(unsigned(ymd.month()));
  st->wDay = WORD(unsigned(ymd.day()));
  st->wDayOfWeek = WORD(weekday{date}.c_encoding());
  int64_t ms = rest / kTicksPerMs;
  st->wHour = WORD(ms / 3'600'000);
  st->wMinute = WORD(ms / 60'000 % 60);
  st->wSecond = WORD(ms / 1000 % 60);
  st->wMilliseconds = WORD(ms % 1000);
  return true;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* fileTime) {
  if (!st || !fileTime) return false;
  using namespace std::chrono;
  year_month_day ymd{year{st->wYear}, month{st->wMonth}, day{st->wDay}};
  if (st->wYear < 1601 || st->wYear > 30827 || !ymd.ok() || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999)
    return false;
  int64_t ms = ((int64_t(st->wHour) * 60 + st->wMinute) * 60 + st->wSecond) * 1000 +
               st->wMilliseconds;
  int64_t ticks = DaysSince1601(st->wYear, st->wMonth, st->wDay) * kTicksPerDay + ms * kTicksPerMs;
  *fileTime = Uint64ToFileTime(uint64_t(ticks));
  return true;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (!utc || !local) return false;
  uint64_t ticks = FileTimeToUint64(*utc);
  if (ticks > uint64_t(kMaxTicks)) return false;
  int64_t seconds, subTicks;
  TicksToUnix(ticks, seconds, subTicks);
  time_t t = time_t(seconds);
  tm parts{};
  if (!localtime_r(&t, &parts)) return false;
  int64_t localTicks;
  if (!UnixToTicks(seconds + parts.tm_gmtoff, subTicks, localTicks)) return false;
  *local = Uint64ToFileTime(uint64_t(localTicks));
  return true;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  if (!local || !utc) return false;
  uint64_t ticks = FileTimeToUint64(*local);
  if (ticks > uint64_t(kMaxTicks)) return false;
  int64_t seconds, subTicks;
  TicksToUnix(ticks, seconds, subTicks);
  // The wall-clock fields of the local time, handed to mktime as local.
  time_t wall = time_t(seconds);
  tm parts{};
  if (!gmtime_r(&wall, &parts)) return false;
  parts.tm_isdst = -1;
  errno = 0;
  time_t t = mktime(&parts);
  if (t == time_t(-1) && errno != 0) return false;
  int64_t utcTicks;
  if (!UnixToTicks(int64_t(t), subTicks, utcTicks)) return false;
  *utc = Uint64ToFileTime(uint64_t(utcTicks));
  return true;
}

FILETIME TimeTToFileTime(time_t t) {
  int64_t ticks;
  return UnixToTicks(int64_t(t), 0, ticks) ? Uint64ToFileTime(uint64_t(ticks)) : FILETIME{};
}

time_t FileTimeToTimeT(const FILETIME& ft) {
  int64_t seconds, subTicks;
  TicksToUnix(FileTimeToUint64(ft), seconds, subTicks);
  return time_t(seconds);
}

FILETIME TimespecToFileTime(const timespec& ts) {
  int64_t ticks;
  int64_t sub = int64_t(ts.tv_nsec) / 100;
  if (sub < 0 || sub >= int64_t(kFileTimeTicksPerSecond)) return FILETIME{};
  return UnixToTicks(int64_t(ts.tv_sec), sub, ticks) ? Uint64ToFileTime(uint64_t(ticks))
                                                     : FILETIME{};
}

timespec FileTimeToTimespec(const FILETIME& ft) {
  int64_t seconds, subTicks;
  TicksToUnix(FileTimeToUint64(ft), seconds, subTicks);
  timespec ts{};
  ts.tv_sec = time_t(seconds);
  ts.tv_nsec = long(subTicks * 100);
  return ts;
}
