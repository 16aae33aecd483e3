// AlarmEvent: what one read of an alarm variable's state array says, built
// by the state reader for one queued variable and applied by the alarm
// processor to the variable's condition. A plain record; every field is
// empty or zero until the reader fills it.
#pragma once

#include <cstdint>
#include <string>

#include "alarmconfig/config.h"
#include "platform/filetime.h"

struct AlarmEvent {
  // [area "/"] node "_" block name with "." as "_": the source name without
  // its kind suffix.
  std::string baseName;
  AlarmKind kind = kAlarmLevel;
  // Level: -2 LoLo, -1 Lo, 0 normal, +1 Hi, +2 HiHi. Rate of change: +2
  // RoCU, -2 RoCD, 0 normal. Bit: 3 alarmed, 0 clear.
  int32_t state = 0;
  std::string message;
  FILETIME activationTime;  // UTC
  uint32_t acknowledged = 0;  // bit 7 of the state word
  uint8_t flags = 0;          // bits 8..15 of the state word
};
