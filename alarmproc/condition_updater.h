// CConditionUpdater: applies what the controller says of one alarm (an
// AlarmEvent) to the condition of its source in g_SourceCache, with the
// controller's own times: Activate while the alarm is on, Acknowledge when
// the controller has acknowledged it, Deactivate when it is back to
// normal. An acknowledgement made here is the controller's, so the
// source's AckInProgress is set around it and nothing is written back.
//
// Contract: Apply REQUIRES g_ConfigMutex held (it keeps the source in the
// cache while its condition changes: every removal takes that mutex first)
// and takes g_CacheLock itself. A zero controller time is handed to the
// toolkit as "now". One thread at a time.
#pragma once

#include <cstddef>

#include "alarmconfig/alarm_var.h"
#include "alarmproc/alarm_dump_file.h"
#include "alarmproc/alarm_event.h"
#include "alarmproc/alarm_state_reader.h"

class CConditionUpdater {
 public:
  enum Result { kApplied, kNoSource, kNoCondition };

  // `dump` may be null (no dump lines).
  CConditionUpdater(const CAlarmStateReader& reader, CAlarmDumpFile* dump) : reader_(reader), dump_(dump) {}

  // Applies `event` (read from `variable`) to the condition of the source
  // event.baseName "." suffix(kind). `completed`: the controller completed
  // an alarm since the previous read. `listSize` and `emptySources` (the
  // pass's count of missing sources, raised here) go into the dump lines.
  // On kApplied the source's attribute slots hold empty texts and the
  // variable's initialPending is cleared.
  Result Apply(AlarmVar& variable, const AlarmEvent& event, bool completed, size_t listSize,
               size_t& emptySources);

 private:
  const CAlarmStateReader& reader_;
  CAlarmDumpFile* dump_;
};
