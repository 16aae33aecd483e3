// The alarms as the plant has them and as the server serves them, for the
// check that no alarm is stuck: both keyed by the end of the source name
// ("TANKFARM_LIC101.A", "PUMPSTN_P201A_MTR.Bit"), which the plant's item
// gives without the documents' areas, each with its active subcondition.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "toolkit/opcae.h"

// The active alarms of the plant (ralto-sim blocks --json); false when the
// tool fails.
bool PlantActiveAlarms(std::map<std::string, std::string>& alarms, std::string* error);

// The condition events of a refresh, from a client of its own; false when
// no refresh came within the limit.
bool RefreshEvents(std::vector<ONEVENTSTRUCT>& events, std::string* error);

// The active conditions among `events`, keyed as above.
std::map<std::string, std::string> ActiveAlarms(const std::vector<ONEVENTSTRUCT>& events);

// The part of a qualified source name after its area.
std::string SourceTail(const std::string& source);
