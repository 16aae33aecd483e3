#include "platform/mmtimer.h"

#include <map>
#include <mutex>

namespace {

constexpr UINT kPeriodMin = 1;
constexpr UINT kPeriodMax = 1'000'000;

std::mutex g_mutex;
std::map<UINT, UINT> g_uses;  // period -> begins not yet ended

}  // namespace

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) {
  if (!caps || size != sizeof(TIMECAPS)) return TIMERR_NOCANDO;
  caps->wPeriodMin = kPeriodMin;
  caps->wPeriodMax = kPeriodMax;
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT periodMs) {
  if (periodMs < kPeriodMin || periodMs > kPeriodMax) return TIMERR_NOCANDO;
  std::lock_guard lock(g_mutex);
  ++g_uses[periodMs];
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT periodMs) {
  std::lock_guard lock(g_mutex);
  auto it = g_uses.find(periodMs);
  if (it == g_uses.end()) return TIMERR_NOCANDO;
  if (--it->second == 0) g_uses.erase(it);
  return TIMERR_NOERROR;
}

UINT TEST_TimerPeriodUses(UINT periodMs) {
  std::lock_guard lock(g_mutex);
  auto it = g_uses.find(periodMs);
  return it == g_uses.end() ? 0 : it->second;
}
