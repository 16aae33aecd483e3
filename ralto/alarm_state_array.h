// The alarm state array that a controller publishes per alarm: the state
// word and four event-time elements, all 32-bit.
//
//   word 0  bits 0..2 state (level 1 LoLo, 2 Lo, 3 Hi, 4 HiHi; RoC 1 RoCD,
//           2 RoCU; bit alarm 1), bit 7 acknowledged, bits 8..15 flags,
//           bits 16..31 fraction of the activation time
//   [1]     activation time, seconds
//   [2]     bits 0..15 fraction of the acknowledgement time,
//           bits 16..31 fraction of the return-to-normal time
//   [3]     acknowledgement time, seconds
//   [4]     return-to-normal time, seconds
//
// Seconds count from 1970-01-01 in the controller's local time (TZ); the
// fraction of the second is in 1/65536 s. Zero seconds and fraction: no time.
// Pure functions; any thread may call.
#pragma once

#include <array>
#include <cstdint>

#include "platform/filetime.h"

struct RaltoControllerTime {
  uint32_t seconds = 0;
  uint16_t fraction = 0;

  friend bool operator==(const RaltoControllerTime&, const RaltoControllerTime&) = default;
};

struct RaltoAlarmRecord {
  uint8_t state = 0;  // bits 0..2 of the word; REQUIRES: state <= 7
  bool acknowledged = true;
  uint8_t flags = 0;
  RaltoControllerTime activation;
  RaltoControllerTime acknowledgement;
  RaltoControllerTime returnToNormal;
};

// The controller's form of a UTC time; a null FILETIME (or one before 1970
// local time) gives the null controller time.
RaltoControllerTime ControllerTimeFromUtc(const FILETIME& utc);
// Back to UTC, to the 1/65536 s of the controller's clock; the null
// controller time gives the null FILETIME.
FILETIME UtcFromControllerTime(const RaltoControllerTime& time);

// Word 0 and elements [1]..[4], in that order.
std::array<uint32_t, 5> EncodeAlarmStateArray(const RaltoAlarmRecord& alarm);
