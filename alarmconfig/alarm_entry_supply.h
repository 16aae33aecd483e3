// CAlarmEntrySupply: how the source builder reaches the connection
// manager's alarm entries without depending on it. The connection manager
// implements it and makes itself the process's supply while it lives
// (g_pAlarmEntrySupply); null means "no connection manager".
//
// Contract: the calls take g_ConfigMutex themselves (recursive: callers may
// hold it). Results are small codes: 0 success, nonzero when the entries
// cannot be supplied; appended entries belong to the caller. Any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "alarmconfig/alarm_condition_entry.h"
#include "alarmconfig/alarm_sources.h"

class CAlarmEntrySupply {
 public:
  // Appends an entry for every alarm variable of the connection (every
  // ".AS" and ".RS" variable with a source name). `name` (the OPC DA
  // server's name) selects nothing: the connection has one server.
  virtual int32_t GetConditionEntries(const std::string& name, AlarmConditionEntries& entries) = 0;
  // The same, only for the variables of node `nodeName`: what the import
  // needs after reading one producer, without walking the other nodes.
  virtual int32_t GetNodeConditionEntries(const std::string& nodeName,
                                          AlarmConditionEntries& entries) = 0;
  // The result of the last BuildSourcesForVariable of a fresh connection
  // (kSourceBuildNotRun before the first).
  virtual SourceBuildResult LastSourceBuildResult() const = 0;

 protected:
  ~CAlarmEntrySupply() = default;
};

extern std::atomic<CAlarmEntrySupply*> g_pAlarmEntrySupply;
