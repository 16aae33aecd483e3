// The source name rule, shared by the source builder and the alarm
// processor: both must produce the identical string for one alarm.
//
//   base name   = [area "/"] node "_" block name with every "." as "_"
//   source name = base name "." SourceKindSuffix(kind)   ("A", "ROC", "Bit")
//
// e.g. area "Tank_Farm/T-101", node "TANKFARM", block "M103.II", level
// alarm: "Tank_Farm/T-101/TANKFARM_M103_II.A". Pure functions.
#pragma once

#include <string>

#include "alarmconfig/alarm_var.h"
#include "alarmconfig/config.h"

std::string SourceBaseName(const std::string& area, const std::string& nodeName,
                           const std::string& blockName);
// The base name of a variable's alarm (its area, node and block name).
std::string SourceBaseName(const AlarmVar& variable);
std::string BuildSourceName(const std::string& baseName, AlarmKind kind);
