#include "alarmconfig/alarm_entry_supply.h"

std::atomic<CAlarmEntrySupply*> g_pAlarmEntrySupply{nullptr};
