// AlarmConditionEntry: the hand-over record through which the source
// builder reads the alarm variables: one per ".AS"/".RS" variable, filled
// by the OPC DA client's GetConditionEntries and handed over by the
// connection manager.
//
// Contract: a plain record; `variable` is not owned (the client's itemMap
// owns it) and is valid while g_ConfigMutex is held and the client lives.
// The header values, limit slots and further words are carried for the
// alarm kinds that use them; the import leaves them zero.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "alarmconfig/alarm_var.h"
#include "alarmconfig/config.h"

struct AlarmLimitSlot {
  uint16_t number = 0;
  char text[5] = {};  // narrow text, NUL-terminated unless all five bytes are used
  double value = 0;

  // The text as a string (at most five bytes).
  std::string Text() const;
};

struct AlarmConditionEntry {
  AlarmKind kind = 0;  // 0 level, 3 rate of change, 5 bit
  uint16_t headerValue2 = 0;
  uint32_t headerValue3 = 0;
  AlarmLimitSlot limits[4];
  uint32_t furtherWords[5] = {};
  std::string sourceName;  // the source base name (no kind suffix)
  std::string secondText;
  std::string nodeName;
  AlarmVar* variable = nullptr;
};

// A list of entries; an entry may be missing (null).
using AlarmConditionEntries = std::vector<std::unique_ptr<AlarmConditionEntry>>;
