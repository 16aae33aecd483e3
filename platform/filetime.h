// FILETIME: 100 ns ticks since 1601-01-01 UTC, the server's time stamp.
#pragma once

#include <cstdint>

#include "platform/com.h"

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;

  friend bool operator==(const FILETIME&, const FILETIME&) = default;
};

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
