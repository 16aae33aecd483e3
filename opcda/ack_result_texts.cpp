#include "opcda/ack_result_texts.h"

#include <cstdio>
#include <ctime>
#include <initializer_list>

#include "alarmconfig/string_ids.h"
#include "platform/format_text.h"
#include "platform/resource_strings.h"

namespace {

// The message text with its "%08X" fields filled in order.
std::string WithHexArguments(std::string text, std::initializer_list<uint32_t> values) {
  size_t from = 0;
  for (uint32_t value : values) {
    size_t at = text.find("%08X", from);
    if (at == std::string::npos) break;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", value);
    text.replace(at, 4, hex);
    from = at + 8;
  }
  return text;
}

// A time for the operator: local date and time in the C library's locale.
std::string DateTimeText(const FILETIME& utc) {
  if (IsNullFileTime(utc)) return {};
  FILETIME local;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) return "Invalid DateTime";
  std::tm tm{};
  tm.tm_year = fields.wYear - 1900;
  tm.tm_mon = fields.wMonth - 1;
  tm.tm_mday = fields.wDay;
  tm.tm_hour = fields.wHour;
  tm.tm_min = fields.wMinute;
  tm.tm_sec = fields.wSecond;
  char text[128];
  size_t length = std::strftime(text, sizeof text, "%x %X", &tm);
  return length ? std::string(text, length) : "Invalid DateTime";
}

}  // namespace

std::string AckNotConnectedText() { return LoadResourceString(kStringAckNotConnected); }

std::string AckTimeMismatchText(const FILETIME& held, const FILETIME& incoming) {
  return FormatText(LoadResourceString(kStringAckTimeMismatch), {DateTimeText(held), DateTimeText(incoming)});
}

std::string AckNoVariableText(const std::string& itemId) {
  return FormatText(LoadResourceString(kStringAckNoVariable), {itemId});
}

std::string AckWriteResultText(HRESULT result, HRESULT itemError) {
  if (result == S_OK) return LoadResourceString(kStringAckSuccess);
  return WithHexArguments(LoadResourceString(kStringAckWriteFailed),
                          {static_cast<uint32_t>(result), static_cast<uint32_t>(itemError)});
}
