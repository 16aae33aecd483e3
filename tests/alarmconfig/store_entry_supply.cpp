#include "store_entry_supply.h"

#include <memory>

CStoreEntrySupply::CStoreEntrySupply(CAlarmVarStore& store)
    : store_(store), previous_(g_pAlarmEntrySupply.exchange(this)) {}

CStoreEntrySupply::~CStoreEntrySupply() { g_pAlarmEntrySupply.store(previous_); }

int32_t CStoreEntrySupply::GetConditionEntries(const std::string&, AlarmConditionEntries& entries) {
  AlarmConditionEntry work[3];
  ConditionEntryPosition position;
  bool done = false;
  while (!done) {
    size_t count = 0;
    int32_t error = store_.GetConditionEntries(position, 3, work, count, done);
    if (error != 0) return error;
    for (size_t i = 0; i <= count && i < 3; ++i)
      if (!work[i].sourceName.empty()) entries.push_back(std::make_unique<AlarmConditionEntry>(work[i]));
  }
  return 0;
}

int32_t CStoreEntrySupply::GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries) {
  nodeRequests.push_back(nodeName);
  store_.GetNodeConditionEntries(nodeName, entries);
  return 0;
}
