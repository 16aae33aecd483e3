#include "sim_text.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

struct NamedState {
  std::string_view kind;
  std::string_view name;
  uint8_t state;
};

constexpr NamedState kStates[] = {
    {"level", "normal", 0}, {"level", "lolo", 1}, {"level", "lo", 2}, {"level", "hi", 3}, {"level", "hihi", 4},
    {"roc", "normal", 0},   {"roc", "rocd", 1},   {"roc", "rocu", 2},
    {"bit", "normal", 0},   {"bit", "alarm", 1},
};

// Reads exactly `digits` decimal digits at `at`.
bool Digits(std::string_view text, size_t& at, size_t digits, int* value) {
  if (at + digits > text.size()) return false;
  int v = 0;
  for (size_t i = 0; i < digits; ++i) {
    char c = text[at + i];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + (c - '0');
  }
  at += digits;
  *value = v;
  return true;
}

bool Expect(std::string_view text, size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

}  // namespace

bool StateFromName(std::string_view kind, std::string_view name, uint8_t* state) {
  for (const NamedState& s : kStates) {
    if ((kind.empty() || s.kind == kind) && s.name == name) {
      *state = s.state;
      return true;
    }
  }
  unsigned value = 0;
  auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), value);
  if (name.empty() || ec != std::errc() || end != name.data() + name.size() || value > 255) return false;
  *state = static_cast<uint8_t>(value);
  return true;
}

std::string StateName(std::string_view kind, uint8_t state) {
  for (const NamedState& s : kStates) {
    if (s.kind == kind && s.state == state) return std::string(s.name);
  }
  return "state " + std::to_string(state);
}

std::string StateNames(std::string_view kind) {
  std::string names;
  for (const NamedState& s : kStates) {
    if (s.kind != kind) continue;
    if (!names.empty()) names += '|';
    names += s.name;
  }
  return names;
}

bool ParseIsoTime(std::string_view text, FILETIME* utc) {
  size_t at = 0;
  int year, month, day, hour, minute, second = 0;
  if (!Digits(text, at, 4, &year) || !Expect(text, at, '-') || !Digits(text, at, 2, &month) ||
      !Expect(text, at, '-') || !Digits(text, at, 2, &day)) {
    return false;
  }
  if (!Expect(text, at, 'T') && !Expect(text, at, ' ')) return false;
  if (!Digits(text, at, 2, &hour) || !Expect(text, at, ':') || !Digits(text, at, 2, &minute)) return false;
  uint64_t fractionTicks = 0;
  if (Expect(text, at, ':')) {
    if (!Digits(text, at, 2, &second)) return false;
    if (Expect(text, at, '.') || Expect(text, at, ',')) {
      uint64_t scale = kFileTimeTicksPerSecond / 10;
      size_t digits = 0;
      while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        fractionTicks += uint64_t(text[at++] - '0') * scale;
        scale /= 10;
        ++digits;
      }
      if (digits == 0) return false;
    }
  }
  SYSTEMTIME fields;
  fields.wYear = static_cast<WORD>(year);
  fields.wMonth = static_cast<WORD>(month);
  fields.wDay = static_cast<WORD>(day);
  fields.wHour = static_cast<WORD>(hour);
  fields.wMinute = static_cast<WORD>(minute);
  fields.wSecond = static_cast<WORD>(second);
  FILETIME wall;
  if (!SystemTimeToFileTime(&fields, &wall)) return false;
  wall = Uint64ToFileTime(FileTimeToUint64(wall) + fractionTicks);

  if (at == text.size()) {
    FILETIME converted;
    if (!LocalFileTimeToFileTime(&wall, &converted)) return false;
    *utc = converted;
    return true;
  }
  if (Expect(text, at, 'Z')) {
    if (at != text.size()) return false;
    *utc = wall;
    return true;
  }
  if (text[at] != '+' && text[at] != '-') return false;
  int sign = text[at++] == '+' ? 1 : -1;
  int offsetHours, offsetMinutes = 0;
  if (!Digits(text, at, 2, &offsetHours)) return false;
  if (at < text.size()) {
    Expect(text, at, ':');
    if (!Digits(text, at, 2, &offsetMinutes) || at != text.size()) return false;
  }
  if (offsetHours > 23 || offsetMinutes > 59) return false;
  int64_t offset = sign * int64_t(offsetHours * 60 + offsetMinutes) * 60 * int64_t(kFileTimeTicksPerSecond);
  *utc = Uint64ToFileTime(static_cast<uint64_t>(static_cast<int64_t>(FileTimeToUint64(wall)) - offset));
  return true;
}

std::string LocalTimeText(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME fields;
  if (IsNullFileTime(utc) || !FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) {
    return "-";
  }
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", fields.wYear, fields.wMonth, fields.wDay,
                fields.wHour, fields.wMinute, fields.wSecond, fields.wMilliseconds);
  return text;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool ParseHResult(std::string_view text, int32_t* hr) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint32_t value = 0;
    auto [stop, ec] = std::from_chars(begin + 2, end, value, 16);
    if (ec != std::errc() || stop != end) return false;
    *hr = static_cast<int32_t>(value);
    return true;
  }
  int64_t value = 0;
  auto [stop, ec] = std::from_chars(begin, end, value);
  if (text.empty() || ec != std::errc() || stop != end || value < INT32_MIN || value > UINT32_MAX) return false;
  *hr = static_cast<int32_t>(static_cast<uint32_t>(value));
  return true;
}

bool ParseCount(std::string_view text, uint32_t* count) {
  uint32_t value = 0;
  auto [stop, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || stop != text.data() + text.size()) return false;
  *count = value;
  return true;
}
