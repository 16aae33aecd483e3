#include "opcda/connection_manager.h"

#include "alarmconfig/tracked_mutex.h"

ConnectionManager* g_pConnectionManager = nullptr;

namespace {

// The size of the working array of one GetConditionEntries call.
constexpr size_t kEntriesPerCall = 3;

}  // namespace

ConnectionManager::ConnectionManager() { g_pAlarmEntrySupply.store(this); }

ConnectionManager::~ConnectionManager() {
  CAlarmEntrySupply* self = this;
  g_pAlarmEntrySupply.compare_exchange_strong(self, nullptr);
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  client.reset();
}

int32_t ConnectionManager::GetConditionEntries(const std::string& /*name*/, AlarmConditionEntries& entries) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  if (!client) return 0;
  AlarmConditionEntry work[kEntriesPerCall];
  ConditionEntryPosition position;
  bool done = false;
  int32_t error = 0;
  while (!done) {
    size_t count = 0;
    error = client->GetConditionEntries(position, kEntriesPerCall, work, count, done);
    if (error != 0) break;
    for (size_t i = 0; i <= count && i < kEntriesPerCall; ++i) {
      if (!work[i].sourceName.empty()) entries.push_back(std::make_unique<AlarmConditionEntry>(work[i]));
    }
  }
  return error;
}

int32_t ConnectionManager::GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  if (client) client->GetNodeConditionEntries(nodeName, entries);
  return 0;
}

AlarmVar* ConnectionManager::FindVariable(const std::string& itemId) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  return client ? client->FindVariable(itemId) : nullptr;
}
