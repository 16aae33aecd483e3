// The multimedia timer period calls. Linux timers need no period raised, so
// these keep the Windows contract (capabilities, balanced begin/end) and
// change nothing else.
//
// Contract: timeBeginPeriod/timeEndPeriod answer TIMERR_NOERROR for a
// period within the capabilities and TIMERR_NOCANDO otherwise; an end
// without a matching begin of the same period is TIMERR_NOCANDO. Thread-safe.
#pragma once

#include "platform/com.h"

using MMRESULT = uint32_t;
using UINT = uint32_t;

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

struct TIMECAPS {
  UINT wPeriodMin;
  UINT wPeriodMax;
};

// Fills caps with 1 .. 1,000,000 ms. TIMERR_NOCANDO for a null pointer or a
// size other than sizeof(TIMECAPS).
MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size);
MMRESULT timeBeginPeriod(UINT periodMs);
MMRESULT timeEndPeriod(UINT periodMs);

// How many begins of `periodMs` are not yet ended (for tests and diagnostics).
UINT TEST_TimerPeriodUses(UINT periodMs);
