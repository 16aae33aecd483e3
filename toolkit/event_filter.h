// A subscription's filter: event types, categories, severity range, areas
// and sources (wildcard patterns). Criteria are AND-ed; values within one
// criterion OR-ed; an empty category, area or source list does not filter.
//
// Contract: a value type; not thread-safe (the subscription guards it).
#pragma once

#include <string>
#include <vector>

#include "toolkit/opcae.h"

class CAEEventFilter {
 public:
  DWORD eventTypes = OPC_ALL_EVENTS;
  std::vector<DWORD> categories;
  DWORD lowSeverity = 1;
  DWORD highSeverity = 1000;
  std::vector<std::string> areas;
  std::vector<std::string> sources;

  // `area` is the area of the event's source.
  bool Passes(const ONEVENTSTRUCT& event, const std::string& area) const;
};
