// Clock: where code that measures time reads it, so tests can drive time by
// hand instead of sleeping.
//
// Contract: NowUtc() is the wall-clock time; SteadyMs() a monotonic count of
// milliseconds (never goes back; its origin has no meaning). Clock::System()
// is the real clock, living for the whole process. ManualClock moves only
// when told. Every member is thread-safe. In namespace ae: Clock is a name
// other libraries use too.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/filetime.h"

namespace ae {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual FILETIME NowUtc() const = 0;
  virtual uint64_t SteadyMs() const = 0;

  static Clock& System();
};

class ManualClock final : public Clock {
 public:
  // Starts at `start` (default 2024-01-01 00:00:00 UTC) and steady time 0.
  explicit ManualClock(FILETIME start = Uint64ToFileTime(133'485'408'000'000'000));

  FILETIME NowUtc() const override;
  uint64_t SteadyMs() const override;

  // Moves both times forward.
  void Advance(uint64_t ms);
  // Sets the wall-clock time only (as a clock adjustment would).
  void SetUtc(FILETIME now);

 private:
  std::atomic<uint64_t> utcTicks_;
  std::atomic<uint64_t> steadyMs_{0};
};

}  // namespace ae
