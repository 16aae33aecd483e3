// ConnectionManager: owner of the server's one OPC DA connection and the
// way in for the other subsystems: the source builder takes its alarm
// entries here (it is the process's CAlarmEntrySupply while it lives), and
// the alarm processor and the acknowledgement write-back look variables up.
//
// Contract: one instance for the life of the program, held in
// g_pConnectionManager. Every operation that touches `client` holds
// g_ConfigMutex (recursive: callers may hold it already); `client` itself
// may only be read or replaced under it. Results are small codes, 0 for
// success. Any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "alarmconfig/alarm_entry_supply.h"
#include "opcda/opc_da_client.h"

class ConnectionManager : public CAlarmEntrySupply {
 public:
  // Becomes the process's alarm entry supply.
  ConnectionManager();
  // Destroys the client (under g_ConfigMutex) and stops being the supply.
  virtual ~ConnectionManager();
  ConnectionManager(const ConnectionManager&) = delete;
  ConnectionManager& operator=(const ConnectionManager&) = delete;

  // Every alarm entry of the client: its GetConditionEntries walked with a
  // working array of 3; entries without a source name are dropped. No
  // client: 0 and nothing appended. Otherwise the walk's error (0).
  int32_t GetConditionEntries(const std::string& name, AlarmConditionEntries& entries) override;
  int32_t GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries) override;
  int32_t LastSourceBuildResult() const override { return lastSourceBuildResult.load(); }

  // The client's variable of `itemId`; null when absent or not connected.
  // The pointer is valid while g_ConfigMutex is held and the client lives.
  AlarmVar* FindVariable(const std::string& itemId);

  // The connection's client; null when not connected.
  std::unique_ptr<C_OPC_DA_Client> client;
  // The result of the last BuildSourcesForVariable after a fresh
  // connection; 1 before the first.
  std::atomic<int32_t> lastSourceBuildResult{1};
};

// The program's connection manager; null before start-up creates it.
extern ConnectionManager* g_pConnectionManager;
