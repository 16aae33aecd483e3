// Timing helpers every benchmark uses: durations of the steady clock in
// seconds, and the median of repeated runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// REQUIRES: !values.empty().
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}
