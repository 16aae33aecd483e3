#include "alarmconfig/alarm_sources.h"

#include <span>
#include <vector>

#include "alarmconfig/alarm_entry_supply.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/source_name.h"
#include "alarmconfig/string_ids.h"
#include "alarmconfig/tracked_cache_lock.h"
#include "alarmconfig/tracked_mutex.h"
#include "platform/resource_strings.h"
#include "toolkit/condition.h"
#include "toolkit/source_cache.h"

namespace {

constexpr WORD kGoodQuality = 192;
constexpr char kSubconditionDefinition[] = "NOT IMPL";

// One subcondition of a kind's condition: its row in the catalogue, the
// priority code that gives its severity, and the limit slot whose text
// describes it (-1: no description).
struct SubconditionPick {
  size_t row;
  size_t priorityCode;
  int limitSlot;
};

constexpr SubconditionPick kLevelPicks[] = {{1, 0, 0}, {2, 1, 1}, {3, 2, 2}, {4, 3, 3}, {5, 4, -1}};
constexpr SubconditionPick kRocPicks[] = {{6, 4, 0}, {7, 5, 0}};
constexpr SubconditionPick kBitPicks[] = {{8, 0, 0}};

// Rows of the catalogue's condition table.
constexpr size_t kLevelConditionRow = 0;
constexpr size_t kRocConditionRow = 1;
constexpr size_t kBitConditionRow = 2;

void AddKindCondition(CAESource& source, const AlarmConditionEntry& entry) {
  std::span<const SubconditionPick> picks;
  size_t conditionRow;
  switch (entry.kind) {
    case kAlarmLevel: picks = kLevelPicks; conditionRow = kLevelConditionRow; break;
    case kAlarmRateOfChange: picks = kRocPicks; conditionRow = kRocConditionRow; break;
    case kAlarmBit: picks = kBitPicks; conditionRow = kBitConditionRow; break;
    default: return;
  }
  const EventConditionRow& row = EventConditionTable()[conditionRow];
  CAECondition condition(&source, row.name, row.categoryId, true, kGoodQuality);
  for (const SubconditionPick& pick : picks) {
    const EventSubconditionRow& sub = EventSubconditionTable()[pick.row];
    DWORD code = entry.variable ? entry.variable->priorityCodes[pick.priorityCode] : 0;
    std::string description = pick.limitSlot >= 0 ? entry.limits[pick.limitSlot].Text() : std::string();
    condition.AddSubcondition(
        CAESubcondition(sub.name, kSubconditionDefinition, SeverityFromPriority(code), description));
  }
  source.AddCondition(condition);
}

// REQUIRES: g_CacheLock held and no source named `name` in the cache.
void CreateSource(const std::string& name, const AlarmConditionEntry& entry) {
  auto* source = new CDerivedSource(name, entry.kind, entry.headerValue2, entry.headerValue3, entry.variable);
  AddKindCondition(*source, entry);
  g_SourceCache.AddSource(source);  // takes over our reference
}

// Acknowledges and clears every condition as the server itself, then takes
// the source out of the cache. REQUIRES: g_CacheLock held.
void WithdrawSource(CAESource& source) {
  auto* derived = dynamic_cast<CDerivedSource*>(&source);
  for (int i = 0, n = source.NumberOfConditions(); i < n; ++i) {
    CAECondition* condition = source.GetConditionAt(i);
    std::string acknowledger = condition->AcknowledgerID();
    if (acknowledger.empty()) acknowledger = LoadResourceString(kStringUnknownUser);
    if (derived) derived->SetAckInProgress(true);
    condition->Acknowledge(acknowledger, std::string(), nullptr);
    condition->Deactivate(std::string(), false, nullptr);
    if (derived) derived->SetAckInProgress(false);
  }
  // Whoever still holds the source after the cache lets it go must not
  // reach a variable that the client may free next.
  if (derived) derived->SetVariable(nullptr);
  std::string name = source.Name();
  g_SourceCache.RemoveSource(name);
}

// The server's sources of an earlier connection whose blocks the fresh
// import no longer has (removed, or moved to another area, while the
// server was away) leave as a binding tick's withdrawal would take them.
void WithdrawSourcesNotIn(const std::unordered_set<std::string>& built) {
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  std::vector<std::string> orphans;
  for (int s = 0, sources = g_SourceCache.NumberOfSources(); s < sources; ++s) {
    CAESource* source = g_SourceCache.GetSourceAt(s);
    if (dynamic_cast<CDerivedSource*>(source) && !built.count(source->Name())) orphans.push_back(source->Name());
  }
  for (const std::string& name : orphans) {
    if (CAESource* source = g_SourceCache.GetSource(name)) WithdrawSource(*source);
  }
}

}  // namespace

DWORD SeverityFromPriority(DWORD priorityCode) {
  switch (priorityCode) {
    case 1: return 900;
    case 2: return 800;
    case 3: return 600;
    case 4: return 400;
    case 5: return 200;
    default: return 1000;
  }
}

const char* SourceBuildResultText(SourceBuildResult result) {
  switch (result) {
    case kSourceBuildOk: return "alarm sources built";
    case kSourceBuildNotRun: return "no source build yet";
    case kSourceBuildNoEntries: return "no alarm sources";
    case kSourceBuildSupplyFailed: return "the alarm entries could not be supplied";
    case kSourceBuildNoSupply: return "no connection manager";
  }
  return "unknown result";
}

SourceBuildResult BuildSourcesForVariable(const std::string& serverName) {
  CAlarmEntrySupply* supply = g_pAlarmEntrySupply.load();
  AlarmConditionEntries entries;
  if (!supply || supply->GetConditionEntries(serverName, entries) != 0) return kSourceBuildSupplyFailed;
  if (entries.empty() || !entries.front()) return kSourceBuildNoEntries;
  std::unordered_set<std::string> built;
  built.reserve(entries.size());
  for (std::unique_ptr<AlarmConditionEntry>& entry : entries) {
    TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
    TrackedCacheGuard cache(g_CacheLock, AE_SITE);
    if (!entry) continue;
    std::string name = BuildSourceName(entry->sourceName, entry->kind);
    CAESource* source = g_SourceCache.GetSource(name);
    if (!source) {
      CreateSource(name, *entry);
    } else {
      if (auto* derived = dynamic_cast<CDerivedSource*>(source)) {
        derived->SetHeaderValue3(entry->headerValue3);
        // The variables of an earlier connection are gone with its client.
        derived->SetVariable(entry->variable);
      }
      for (int i = 0, n = source->NumberOfConditions(); i < n; ++i) {
        CAECondition* condition = source->GetConditionAt(i);
        condition->Deactivate(std::string(), false, nullptr);
        condition->Quality(kGoodQuality);
      }
    }
    built.insert(std::move(name));
    entry.reset();
  }
  WithdrawSourcesNotIn(built);
  return kSourceBuildOk;
}

SourceBuildResult BuildNodeSources(const std::string& nodeName) {
  CAlarmEntrySupply* supply = g_pAlarmEntrySupply.load();
  if (!supply) return kSourceBuildNoSupply;
  AlarmConditionEntries entries;
  if (supply->GetNodeConditionEntries(nodeName, entries) != 0) return kSourceBuildSupplyFailed;
  if (entries.empty() || !entries.front()) return kSourceBuildNoEntries;
  for (std::unique_ptr<AlarmConditionEntry>& entry : entries) {
    TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
    TrackedCacheGuard cache(g_CacheLock, AE_SITE);
    if (!entry || !entry->variable || entry->variable->nodeName != nodeName) continue;
    std::string name = BuildSourceName(entry->sourceName, entry->kind);
    CAESource* source = g_SourceCache.GetSource(name);
    bool seen = entry->variable->seenInImport;
    if (!source && seen) {
      CreateSource(name, *entry);
    } else if (source && !seen) {
      WithdrawSource(*source);
    }
    entry.reset();
  }
  return kSourceBuildOk;
}

int32_t WithdrawAreaSource(const std::string& baseName, const std::string& /*area*/, AlarmKind kind) {
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  if (CAESource* source = g_SourceCache.GetSource(BuildSourceName(baseName, kind))) WithdrawSource(*source);
  return 0;
}

void SetQualityForSources(const std::string& text, WORD quality) {
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  for (int s = 0, sources = g_SourceCache.NumberOfSources(); s < sources; ++s) {
    CAESource* source = g_SourceCache.GetSourceAt(s);
    if (source->Name().find(text) == std::string::npos) continue;
    for (int i = 0, n = source->NumberOfConditions(); i < n; ++i) source->GetConditionAt(i)->Quality(quality);
  }
}

void DetachSourcesFromVariables(const std::unordered_set<const AlarmVar*>& variables) {
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  for (int s = 0, sources = g_SourceCache.NumberOfSources(); s < sources; ++s) {
    auto* derived = dynamic_cast<CDerivedSource*>(g_SourceCache.GetSourceAt(s));
    if (derived && variables.count(derived->Variable())) derived->SetVariable(nullptr);
  }
}
