// The texts of ralto-sim: alarm state names by kind, ISO 8601 times in and
// readable local times out, JSON strings, result codes typed by hand.
//
// Contract: pure functions (local time is the C library's, TZ honoured);
// the parsers answer false and leave their output untouched for text they
// do not take. Any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/filetime.h"

// kind: "level" (.AS of an analog block), "roc" (.RS), "bit" (.AS of a
// digital block); "" when the item is unknown, then any kind's names count.
// Names: normal, lolo, lo, hi, hihi; normal, rocd, rocu; normal, alarm; or
// the state bits as a number 0..255 (the plant refuses what is out of range).
bool StateFromName(std::string_view kind, std::string_view name, uint8_t* state);
// The name of a state of that kind; "state N" for one without a name.
std::string StateName(std::string_view kind, uint8_t state);
// The names a kind takes, "normal|lolo|lo|hi|hihi".
std::string StateNames(std::string_view kind);

// "YYYY-MM-DDTHH:MM[:SS[.fraction]]" (a space may stand for the "T"), then
// "Z", an offset "+HH[:MM]" / "-HH[:MM]", or nothing: local time.
bool ParseIsoTime(std::string_view text, FILETIME* utc);
// "YYYY-MM-DD HH:MM:SS.mmm" in local time; "-" for the null time.
std::string LocalTimeText(const FILETIME& utc);

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view text);

// "0x80004005" (hex) or a decimal number, negative ones included, that
// fits in 32 bits.
bool ParseHResult(std::string_view text, int32_t* hr);
// A whole number 0..UINT32_MAX.
bool ParseCount(std::string_view text, uint32_t* count);
