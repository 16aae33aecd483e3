// FILETIME: 100 ns ticks since 1601-01-01 UTC, the server's time stamp.
//
// Contract: the conversions answer FALSE (output untouched) for a value
// outside what the target can hold or a SYSTEMTIME with an impossible field;
// they never crash. Local time is the C library's (TZ honoured), each
// instant converted with the offset in force at that instant, so DST is
// right on both sides of a change. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/com.h"

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;

  friend bool operator==(const FILETIME&, const FILETIME&) = default;
};

struct SYSTEMTIME {
  WORD wYear = 0;
  WORD wMonth = 0;      // 1 = January
  WORD wDayOfWeek = 0;  // 0 = Sunday; ignored by SystemTimeToFileTime
  WORD wDay = 0;
  WORD wHour = 0;
  WORD wMinute = 0;
  WORD wSecond = 0;
  WORD wMilliseconds = 0;
};

constexpr uint64_t kFileTimeTicksPerSecond = 10'000'000;
// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr uint64_t kFileTimeUnixEpoch = 116'444'736'000'000'000;

inline uint64_t FileTimeToUint64(const FILETIME& ft) {
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline FILETIME Uint64ToFileTime(uint64_t v) {
  return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}
inline bool IsNullFileTime(const FILETIME& ft) { return FileTimeToUint64(ft) == 0; }
inline int CompareFileTime(const FILETIME& a, const FILETIME& b) {
  uint64_t x = FileTimeToUint64(a), y = FileTimeToUint64(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The current time in UTC.
FILETIME GetSystemTimeAsFileTime();

// Calendar fields, as Windows: years 1601..30827, milliseconds precision
// (finer ticks are dropped).
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);

// UTC <-> local wall-clock time, both as FILETIME. A local time that a DST
// change skips or repeats is resolved as mktime resolves it.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);

// Unix times. Times before 1601 become the null FILETIME; the FILETIME to
// Unix direction rounds down to the unit of the target.
FILETIME TimeTToFileTime(time_t t);
time_t FileTimeToTimeT(const FILETIME& ft);
FILETIME TimespecToFileTime(const timespec& ts);
timespec FileTimeToTimespec(const FILETIME& ft);
