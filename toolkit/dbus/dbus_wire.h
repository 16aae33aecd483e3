// How the toolkit's values travel in D-Bus messages: VARIANT as (qv) (the
// VT_ code and the value in its natural D-Bus type), FILETIME as t (the
// 100 ns ticks), BOOL as b, an event as the struct kEventSignature.
//
// Contract: Write appends to a message being built; Read consumes from a
// received one and answers false (the message left at the failing
// position) when the next value is not of the expected type, or throws
// sdbus::Error as sdbus-c++ does for a malformed message. Internal to the
// transport and the client library; not thread-safe per message.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <string>
#include <vector>

#include "toolkit/opcae.h"

namespace aedbus {

inline constexpr char kEventSignature[] = "qqstsuuussqqbtua(qv)s";
inline constexpr char kEventArraySignature[] = "(qqstsuuussqqbtua(qv)s)";

void Write(sdbus::Message& msg, const VARIANT& value);
void Write(sdbus::Message& msg, const std::vector<VARIANT>& values);
void Write(sdbus::Message& msg, const ONEVENTSTRUCT& event);
void Write(sdbus::Message& msg, const ONEVENTSTRUCT* events, size_t count);

bool Read(sdbus::Message& msg, VARIANT& value);
bool Read(sdbus::Message& msg, std::vector<VARIANT>& values);
bool Read(sdbus::Message& msg, ONEVENTSTRUCT& event);
bool Read(sdbus::Message& msg, std::vector<ONEVENTSTRUCT>& events);

}  // namespace aedbus
