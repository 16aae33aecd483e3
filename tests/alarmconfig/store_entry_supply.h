// A variable store and an entry supply standing in for the OPC DA client and
// the connection manager, for the configuration import run without them
// (the tests and the fuzz targets).
#pragma once

#include <string>
#include <vector>

#include "alarmconfig/alarm_entry_supply.h"
#include "alarmconfig/alarm_var_store.h"

// The OPC DA client's maps without an OPC server: records the items it would
// remove there.
class CTestVarStore : public CAlarmVarStore {
 public:
  std::vector<std::string> removedItems;

 protected:
  void RemoveServerItem(const AlarmVar& variable) override { removedItems.push_back(variable.ItemId()); }
};

// Serves the entries of one store as the connection manager would, and
// counts the node builds the import asks for. The process's supply while it
// lives.
class CStoreEntrySupply : public CAlarmEntrySupply {
 public:
  explicit CStoreEntrySupply(CAlarmVarStore& store);
  ~CStoreEntrySupply();
  CStoreEntrySupply(const CStoreEntrySupply&) = delete;
  CStoreEntrySupply& operator=(const CStoreEntrySupply&) = delete;

  int32_t GetConditionEntries(const std::string& name, AlarmConditionEntries& entries) override;
  int32_t GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries) override;
  SourceBuildResult LastSourceBuildResult() const override { return lastSourceBuildResult; }

  SourceBuildResult lastSourceBuildResult = kSourceBuildNotRun;
  std::vector<std::string> nodeRequests;

 private:
  CAlarmVarStore& store_;
  CAlarmEntrySupply* previous_;
};
