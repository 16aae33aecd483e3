#include "alarmconfig/alarm_condition_entry.h"

#include <cstring>

std::string AlarmLimitSlot::Text() const { return std::string(text, strnlen(text, sizeof text)); }
