#include "callback/alarm_log_instance.h"

std::atomic<CAlarmLog*> g_pAlarmLog{nullptr};
