// C_Alarm_Requests: the queue of changed alarm variables between the OPC DA
// data callback, which only appends, and the alarm processor, which takes
// the whole queue and reads the values itself.
//
// Contract: every operation is atomic under the queue's own lock; any
// thread may call any of them. The queue keeps plain pointers and owns no
// variable: a variable leaves the client's maps only under g_ConfigMutex,
// so whoever takes the queue uses what it took under g_ConfigMutex and
// drops it before the lock goes. `readyEvent` (manual reset) is set from
// the first Signal() after entries were added until TakeAll or Clear.
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "alarmconfig/alarm_var.h"
#include "platform/sync.h"

class C_Alarm_Requests {
 public:
  C_Alarm_Requests();
  virtual ~C_Alarm_Requests();
  C_Alarm_Requests(const C_Alarm_Requests&) = delete;
  C_Alarm_Requests& operator=(const C_Alarm_Requests&) = delete;

  // Makes room for n more entries; the queue itself does not change.
  void Reserve(size_t n);
  // Appends `variable` (duplicates kept, in arrival order).
  void Add(AlarmVar* variable);
  // Sets readyEvent when the queue is not empty.
  void Signal();
  // Appends the whole queue, in order, to *destination, empties it and
  // resets readyEvent; 1. A null destination: 0 and nothing changes.
  int TakeAll(std::vector<AlarmVar*>* destination);
  // Empties the queue and resets readyEvent.
  void Clear();
  // Drops every queued entry of the `variables` (freed or about to be).
  void Forget(const std::unordered_set<const AlarmVar*>& variables);
  // The number of queued entries.
  size_t PendingCount() const;

  // Waited on by the alarm processor.
  ae::Event readyEvent{ae::Event::kManualReset, false};

 private:
  mutable std::mutex lock_;
  std::vector<AlarmVar*> pending_;
};

// The process's queue, alive for the whole program.
extern C_Alarm_Requests alarmRequests;
