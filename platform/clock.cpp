#include "platform/clock.h"

#include <chrono>

namespace ae {
namespace {

class SystemClock final : public Clock {
 public:
  FILETIME NowUtc() const override { return GetSystemTimeAsFileTime(); }
  uint64_t SteadyMs() const override {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
  }
};

}  // namespace

Clock& Clock::System() {
  static SystemClock* clock = new SystemClock;  // never destroyed: used until exit
  return *clock;
}

ManualClock::ManualClock(FILETIME start) : utcTicks_(FileTimeToUint64(start)) {}

FILETIME ManualClock::NowUtc() const { return Uint64ToFileTime(utcTicks_.load()); }

uint64_t ManualClock::SteadyMs() const { return steadyMs_.load(); }

void ManualClock::Advance(uint64_t ms) {
  steadyMs_ += ms;
  utcTicks_ += ms * 10'000;
}

void ManualClock::SetUtc(FILETIME now) { utcTicks_ = FileTimeToUint64(now); }

}  // namespace ae
