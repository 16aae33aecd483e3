#include "acklog/date_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int kFirstYear = 100;
constexpr int kLastYear = 9999;
// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11'644'473'600;

int64_t DaysFromCivil(int year, int month, int day) {
  using namespace std::chrono;
  return sys_days{std::chrono::year{year} / month / day}.time_since_epoch().count();
}

bool InValidYears(int64_t seconds) {
  static const int64_t first = DaysFromCivil(kFirstYear, 1, 1) * kSecondsPerDay;
  static const int64_t end = DaysFromCivil(kLastYear + 1, 1, 1) * kSecondsPerDay;
  return seconds >= first && seconds < end;
}

}  // namespace

CDateTime CDateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
  CDateTime result;
  result.status_ = kInvalid;
  if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return result;
  std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month(month),
                                   std::chrono::day(day)};
  if (!date.ok()) return result;
  result.status_ = kValid;
  result.seconds_ = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return result;
}

CDateTime CDateTime::FromFileTime(const FILETIME& time) {
  CDateTime result;
  uint64_t ticks = FileTimeToUint64(time);
  if (ticks == 0) return result;
  int64_t seconds = int64_t(ticks / kFileTimeTicksPerSecond) - kFileTimeEpochSeconds;
  result.status_ = InValidYears(seconds) ? kValid : kInvalid;
  if (result.status_ == kValid) result.seconds_ = seconds;
  return result;
}

bool CDateTime::ToFileTime(FILETIME& out) const {
  if (status_ != kValid || seconds_ < -kFileTimeEpochSeconds) return false;
  out = Uint64ToFileTime(uint64_t(seconds_ + kFileTimeEpochSeconds) * kFileTimeTicksPerSecond);
  return true;
}

bool CDateTime::GetParts(int& year, int& month, int& day, int& hour, int& minute, int& second) const {
  if (status_ != kValid) return false;
  using namespace std::chrono;
  int64_t days = seconds_ >= 0 ? seconds_ / kSecondsPerDay : -((-seconds_ + kSecondsPerDay - 1) / kSecondsPerDay);
  int64_t rest = seconds_ - days * kSecondsPerDay;
  year_month_day date{sys_days{std::chrono::days{days}}};
  year = int(date.year());
  month = int(unsigned(date.month()));
  day = int(unsigned(date.day()));
  hour = int(rest / 3600);
  minute = int(rest / 60 % 60);
  second = int(rest % 60);
  return true;
}

std::string CDateTime::Format(bool withTime) const {
  if (status_ == kNull) return "";
  int year, month, day, hour, minute, second;
  if (!GetParts(year, month, day, hour, minute, second)) return "Invalid DateTime";
  char text[32];
  if (withTime)
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  else
    snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

CDateTime CDateTime::DatePart() const {
  CDateTime result = *this;
  if (status_ == kValid) {
    int64_t rest = seconds_ % kSecondsPerDay;
    if (rest < 0) rest += kSecondsPerDay;
    result.seconds_ -= rest;
  }
  return result;
}

CDateTime CDateTime::AddDays(int days) const {
  CDateTime result = *this;
  if (status_ != kValid) return result;
  result.seconds_ += int64_t(days) * kSecondsPerDay;
  if (!InValidYears(result.seconds_)) {
    result.status_ = kInvalid;
    result.seconds_ = 0;
  }
  return result;
}

bool CDateTime::IsAfter(const CDateTime& other) const {
  return status_ == kValid && other.status_ == kValid && seconds_ > other.seconds_;
}

bool ParseDateTime(const std::string& text, const std::string& format, CDateTime& result) {
  int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
  size_t t = 0, f = 0;
  while (t < text.size() && f < format.size()) {
    if (format[f] != '%') {
      if (format[f] != text[t]) return false;
      ++t;
      ++f;
      continue;
    }
    if (f + 1 >= format.size()) return false;
    int* field = nullptr;
    size_t width = 2;
    switch (format[f + 1]) {
      case 'Y': field = &year; width = 4; break;
      case 'm': field = &month; break;
      case 'd': field = &day; break;
      case 'H': field = &hour; break;
      case 'M': field = &minute; break;
      case 'S': field = &second; break;
      default: return false;
    }
    // A failed conversion leaves the field at -1, as the original reader did.
    sscanf(text.c_str() + t, width == 4 ? "%4d" : "%2d", field);
    t = std::min(text.size(), t + width);
    f += 2;
  }
  if (year >= 0 && month >= 0 && day >= 0 && hour >= 0 && minute >= 0 && second >= 0)
    result = CDateTime::FromParts(year, month, day, hour, minute, second);
  else if (year >= 0 && month >= 0 && day >= 0)
    result = CDateTime::FromParts(year, month, day);
  else
    return false;
  return true;
}
