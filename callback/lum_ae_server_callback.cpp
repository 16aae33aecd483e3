#include "callback/lum_ae_server_callback.h"

#include <cstring>

#include "acklog/ack_log_settings.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/tracked_cache_lock.h"
#include "alarmconfig/tracked_mutex.h"
#include "callback/alarm_log_instance.h"
#include "opcda/connection_manager.h"
#include "platform/class_factory.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/server_interface.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kShutdownReason[] = "Shutdown with no clients";

// The connection manager, read under the lock that guards the pointer.
ConnectionManager* CurrentConnectionManager() {
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  return g_pConnectionManager;
}

// The checks of TranslateToItemIDs that need the sources: under
// g_ConfigMutex, the cache lock and the source's lock, all released on return.
HRESULT CheckNames(const std::string& sourceName, DWORD eventCategory, const std::string& conditionName,
                   const std::string& subconditionName, DWORD count, const DWORD* attributeIds) {
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  CAESource* source = g_SourceCache.GetSource(sourceName);
  if (!source) return E_INVALIDARG;
  TrackedSourceLock record(source);
  TrackedSourceGuard guard(record, AE_SITE);
  CAECondition* condition = source->GetCondition(conditionName);
  if (!condition) return E_INVALIDARG;
  if (!subconditionName.empty() && !condition->GetSubcondition(subconditionName)) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    CAECfgRecAttribute attribute;
    if (g_CfgDb.Find(AE_CFG_ATTRIBUTES, VARIANT::I4(static_cast<int32_t>(attributeIds[i])), attribute) != 0 ||
        attribute.categoryId != eventCategory) {
      return E_INVALIDARG;
    }
  }
  return S_OK;
}

// A task-allocated "" (null when out of memory).
char* EmptyText(void* (*allocate)(size_t)) {
  auto* text = static_cast<char*>(allocate(1));
  if (text) text[0] = '\0';
  return text;
}

}  // namespace

CLumAEServerCallback::CLumAEServerCallback(DWORD bindingWaitMs)
    : bindingWaitMs_(bindingWaitMs), allocate_(CoTaskMemAlloc) {}

CLumAEServerCallback::~CLumAEServerCallback() = default;

void CLumAEServerCallback::SetMainWindowLink(CMainWindowLink* link) { mainWindow_.store(link); }

LONG CLumAEServerCallback::OnClientConnect() {
  clientCount_.fetch_add(1);
  return 0;
}

void CLumAEServerCallback::OnClientDisconnect() {
  // Only the call that takes the count to 0 sees 0 here, so overlapping
  // disconnects shut down once.
  LONG left = clientCount_.fetch_sub(1) - 1;
  CMainWindowLink* window = mainWindow_.load();
  if (!window || !window->Exists()) return;
  if (left != 0) return;
  ShutDown();
}

void CLumAEServerCallback::ShutDown() {
  // The wait runs without g_ConfigMutex: a binding tick needs it to finish.
  if (ConnectionManager* manager = CurrentConnectionManager()) {
    manager->bindingStopEvent.Set();
    manager->bindingDoneEvent.Wait(bindingWaitMs_);
  }
  g_ServerInterface.RequestDisconnect(kShutdownReason);
  if (CMainWindowLink* window = mainWindow_.load()) window->PostCloseMessage();
}

void CLumAEServerCallback::OnConditionAcknowledged(CAECondition* condition) {
  if (!condition) return;
  auto* source = dynamic_cast<CDerivedSource*>(condition->Parent());
  if (!source || source->AckInProgress()) return;
  // What the client acknowledged, taken before the write-back: once the
  // word is written the controller reports the acknowledgement back, and
  // the alarm processor may acknowledge a newer activation of the alarm
  // (the server's own acknowledgement, without comment) before the record
  // is made.
  const CAEAcknowledgement acknowledged = condition->LastAcknowledgement();

  std::string result;
  CAlarmLog::VariableNames names;
  {
    // Held across the call so the manager cannot go meanwhile; the write
    // takes g_ConfigMutex (recursive) and g_CacheLock itself. The record's
    // names are copied here too: the import rewrites them under this lock.
    TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
    if (g_pConnectionManager) g_pConnectionManager->WriteAcknowledgement(condition, source, result);
    names = CAlarmLog::CopyVariableNames(*source);
  }

  CAlarmLog* log = g_pAlarmLog.load();
  if (log && IsLoggingEnabled()) {
    TrackedMutexGuard guard(log->Mutex(), AE_SITE);
    log->LogAcknowledgement(*condition, *source, result, names, &acknowledged);
  }
}

BOOL CLumAEServerCallback::GetConditionAttributeValues(LONG, DWORD count, const DWORD* attributeIds,
                                                       CAECondition* condition, VARIANT* values) {
  if (!condition) return true;
  if (count && (!attributeIds || !values)) return false;
  // Another source class has no slots at all.
  auto* source = dynamic_cast<CDerivedSource*>(condition->Parent());
  for (DWORD i = 0; i < count; ++i) {
    if (!source || !source->GetAttributeValue(attributeIds[i], values[i])) return false;
  }
  return true;
}

HRESULT CLumAEServerCallback::TranslateToItemIDs(const std::string& source, DWORD eventCategory,
                                                 const std::string& conditionName,
                                                 const std::string& subconditionName, DWORD count,
                                                 const DWORD* attributeIds, char*** itemIds, char*** nodeNames,
                                                 CLSID** clsids) {
  if (!itemIds || !nodeNames || !clsids) return E_POINTER;
  *itemIds = nullptr;
  *nodeNames = nullptr;
  *clsids = nullptr;

  CLSID clsid;
  if (FAILED(CLSIDFromProgID(kItemIdClassProgId, &clsid))) return E_FAIL;
  CAECfgRecCategory category;
  if (g_CfgDb.Find(AE_CFG_CATEGORIES, VARIANT::I4(static_cast<int32_t>(eventCategory)), category) != 0)
    return E_INVALIDARG;
  if (count == 0 || !attributeIds) return E_INVALIDARG;
  HRESULT hr = CheckNames(source, eventCategory, conditionName, subconditionName, count, attributeIds);
  if (FAILED(hr)) return hr;

  // Allocated with every lock released. The pointer arrays start zeroed,
  // so a failure part way frees exactly what was made.
  auto** items = static_cast<char**>(allocate_(count * sizeof(char*)));
  if (items) std::memset(items, 0, count * sizeof(char*));
  auto** nodes = static_cast<char**>(allocate_(count * sizeof(char*)));
  if (nodes) std::memset(nodes, 0, count * sizeof(char*));
  auto* classes = static_cast<CLSID*>(allocate_(count * sizeof(CLSID)));
  bool complete = items && nodes && classes;
  for (DWORD i = 0; i < count && complete; ++i) {
    items[i] = EmptyText(allocate_);
    nodes[i] = EmptyText(allocate_);
    classes[i] = clsid;
    complete = items[i] && nodes[i];
  }
  if (!complete) {
    for (DWORD i = 0; i < count; ++i) {
      if (items) CoTaskMemFree(items[i]);
      if (nodes) CoTaskMemFree(nodes[i]);
    }
    CoTaskMemFree(items);
    CoTaskMemFree(nodes);
    CoTaskMemFree(classes);
    return E_OUTOFMEMORY;
  }
  *itemIds = items;
  *nodeNames = nodes;
  *clsids = classes;
  return S_OK;
}
