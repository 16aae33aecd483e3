// The toolkit's running statistics (GetStatistic indexes 0..6): sample
// period, live event server objects, subscriptions and area browsers,
// events generated, client notifications, and events generated in the last
// complete sample period.
//
// Contract: counters are lock-free and may be touched from any thread. The
// sample period rolls only in Roll, which the delivery thread calls from its
// timed wait, so no extra thread runs for it. Times are the engine clock's
// steady milliseconds.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/variant.h"

class CAEStatistics {
 public:
  static constexpr DWORD kDefaultSamplePeriodMs = 3000;

  enum Index {
    kSamplePeriod = 0,
    kEventServers = 1,
    kSubscriptions = 2,
    kAreaBrowsers = 3,
    kEventsGenerated = 4,
    kNotifications = 5,
    kEventsLastPeriod = 6,
  };

  std::atomic<int32_t> eventServers{0};
  std::atomic<int32_t> subscriptions{0};
  std::atomic<int32_t> areaBrowsers{0};

  void CountEvent() { generated_.fetch_add(1, std::memory_order_relaxed); }
  void CountNotification() { notifications_.fetch_add(1, std::memory_order_relaxed); }

  // VT_I4 value of one statistic; E_INVALIDARG for another index,
  // E_POINTER for a null value.
  HRESULT Get(int index, VARIANT* value) const;
  // A new period (0 is taken as 1 ms) starts at the next Roll.
  void SetSamplePeriod(DWORD ms);

  // Closes the sample period when it has ended; returns when the current one ends.
  uint64_t Roll(uint64_t nowMs);

 private:
  std::atomic<uint64_t> generated_{0};
  std::atomic<uint64_t> notifications_{0};
  std::atomic<uint64_t> lastPeriod_{0};
  std::atomic<DWORD> periodMs_{kDefaultSamplePeriodMs};
  std::atomic<bool> restart_{true};
  // Delivery thread only.
  uint64_t periodEnd_ = 0;
  uint64_t generatedAtStart_ = 0;
};
