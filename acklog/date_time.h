// CDateTime: a calendar date and time to the second with a status, as the
// acknowledgement log keeps its times: null (no time), valid, or invalid
// (fields out of range, e.g. month 13). Valid times span the years 100 to
// 9999; no time zone is attached (the log stores UTC).
//
// Contract: a value type; every member is const-correct and thread-safe on
// distinct objects. Nothing fails loudly: out-of-range input gives an
// invalid value, and operations on null or invalid values give null, false
// or the texts below.
#pragma once

#include <cstdint>
#include <string>

#include "platform/filetime.h"

class CDateTime {
 public:
  // DateTimeStatus, not Status: Xlib defines Status as a macro.
  enum DateTimeStatus { kNull, kValid, kInvalid };

  CDateTime() = default;  // null

  // Valid when every field is in range (seconds 0..59), else invalid.
  static CDateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                             int second = 0);
  // A FILETIME to the second (finer ticks dropped); the zero FILETIME, which
  // stands for "never", gives null.
  static CDateTime FromFileTime(const FILETIME& time);

  DateTimeStatus GetStatus() const { return status_; }
  bool IsValid() const { return status_ == kValid; }

  // False (out untouched) unless valid and representable (1601 or later).
  bool ToFileTime(FILETIME& out) const;
  // The fields of a valid value; false otherwise.
  bool GetParts(int& year, int& month, int& day, int& hour, int& minute, int& second) const;

  // "%Y-%m-%d %H:%M:%S", or "%Y-%m-%d" without the time; a null value
  // gives "" and an invalid one "Invalid DateTime".
  std::string Format(bool withTime = true) const;
  // The same day at midnight; null and invalid values stay as they are.
  CDateTime DatePart() const;
  // `days` later (earlier when negative); invalid when the result leaves
  // the valid years. Null and invalid values stay as they are.
  CDateTime AddDays(int days) const;

  // The log filter's comparisons: false unless both values are valid.
  bool IsAfter(const CDateTime& other) const;
  bool IsBefore(const CDateTime& other) const { return other.IsAfter(*this); }

  // Same status and, for valid values, the same instant.
  friend bool operator==(const CDateTime& a, const CDateTime& b) {
    return a.status_ == b.status_ && (a.status_ != kValid || a.seconds_ == b.seconds_);
  }

 private:
  DateTimeStatus status_ = kNull;
  int64_t seconds_ = 0;  // since 1970-01-01 00:00:00, meaningful when valid
};

// Parses `text` by `format`, which may hold "%Y" (a number of at most 4
// characters), "%m", "%d", "%H", "%M", "%S" (at most 2 characters each) and
// literal characters that must match. Each directive reads its number as
// sscanf's "%4d"/"%2d" would and then moves on by exactly 4 or 2 characters
// (never past the end of the text); parsing stops quietly when either text
// or format runs out. With all six fields read, `result` becomes that date
// and time; with only the date, that date at midnight; it may come out
// invalid (month 13) and the answer is still true. False, with `result`
// untouched, on a literal mismatch, an unknown directive or a missing date.
bool ParseDateTime(const std::string& text, const std::string& format, CDateTime& result);
