#include "toolkit/event_filter.h"

#include <algorithm>

#include "toolkit/match_pattern.h"

namespace {

bool AnyMatches(const std::vector<std::string>& patterns, const std::string& text) {
  if (patterns.empty()) return true;
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::string& p) { return p == text || MatchPattern(text, p); });
}

}  // namespace

bool CAEEventFilter::Passes(const ONEVENTSTRUCT& e, const std::string& area) const {
  if (!(e.dwEventType & eventTypes)) return false;
  if (e.dwSeverity < lowSeverity || e.dwSeverity > highSeverity) return false;
  if (!categories.empty() &&
      std::find(categories.begin(), categories.end(), e.dwEventCategory) == categories.end()) {
    return false;
  }
  return AnyMatches(areas, area) && AnyMatches(sources, e.szSource);
}
