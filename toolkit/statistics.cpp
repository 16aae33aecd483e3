#include "toolkit/statistics.h"

HRESULT CAEStatistics::Get(int index, VARIANT* value) const {
  if (!value) return E_POINTER;
  int64_t v;
  switch (index) {
    case kSamplePeriod: v = periodMs_.load(); break;
    case kEventServers: v = eventServers.load(); break;
    case kSubscriptions: v = subscriptions.load(); break;
    case kAreaBrowsers: v = areaBrowsers.load(); break;
    case kEventsGenerated: v = static_cast<int64_t>(generated_.load()); break;
    case kNotifications: v = static_cast<int64_t>(notifications_.load()); break;
    case kEventsLastPeriod: v = static_cast<int64_t>(lastPeriod_.load()); break;
    default: return E_INVALIDARG;
  }
  // Totals wrap like the 32-bit counters a client reads.
  *value = VARIANT::I4(static_cast<int32_t>(static_cast<uint32_t>(v)));
  return S_OK;
}

void CAEStatistics::SetSamplePeriod(DWORD ms) {
  periodMs_.store(ms ? ms : 1);
  restart_.store(true);
}

uint64_t CAEStatistics::Roll(uint64_t now) {
  uint64_t period = periodMs_.load();
  if (restart_.exchange(false)) {
    periodEnd_ = now + period;  // events since the last roll count in the new period
  } else if (now >= periodEnd_) {
    uint64_t total = generated_.load();
    lastPeriod_.store(total - generatedAtStart_);
    generatedAtStart_ = total;
    periodEnd_ = now + period;
  }
  return periodEnd_;
}
