// g_pAlarmLog: the program's acknowledgement log; null until start-up has
// created it (after the main window, when clients may already be
// acknowledging, hence atomic) and again once the exit handler takes it
// down.
//
// Contract: any thread may read it. REQUIRES for clearing it and deleting
// the log: the toolkit is uninitialised, so no acknowledgement is under way.
#pragma once

#include <atomic>

#include "acklog/alarm_log.h"

extern std::atomic<CAlarmLog*> g_pAlarmLog;
