// The alarm sources: every ".AS"/".RS" alarm variable becomes one
// CDerivedSource in the toolkit's g_SourceCache, named by the source name
// rule (source_name.h), with the condition of its kind:
//
//   kind 0 "Level": LoLo, Lo, Hi, HiHi (priority codes 0..3), Normal (code 4)
//   kind 3 "RoC":   RoCU, RoCD (codes 4, 5)
//   kind 5 "Bit":   Bit (code 0)
//   other kinds:    a source without condition or attribute slots
//
// Subconditions have the definition "NOT IMPL", the severity of their
// priority code (SeverityFromPriority) and the text of the entry's limit
// slot as description. The entries come from the connection manager through
// g_pAlarmEntrySupply.
//
// Contract: the operations take g_ConfigMutex and then g_CacheLock (per
// entry where they walk entries), so a caller may hold g_ConfigMutex but
// must not hold g_CacheLock or a source lock. The builds report a
// SourceBuildResult. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "alarmconfig/alarm_var.h"
#include "alarmconfig/config.h"
#include "platform/com.h"

// What a source build reports. The numbers are fixed: the connection
// manager keeps the last one, and the tools print it.
enum SourceBuildResult : int32_t {
  kSourceBuildOk = 0,
  kSourceBuildNotRun = 1,        // no build yet (the connection manager's start value)
  kSourceBuildNoEntries = 2,     // the supply gave no entries, or the first was missing
  kSourceBuildSupplyFailed = 4,  // the supply could not give the entries
  kSourceBuildNoSupply = E_POINTER,  // no connection manager (BuildNodeSources only)
};

// A short text naming `result` ("no alarm sources", ...), for the tools.
const char* SourceBuildResultText(SourceBuildResult result);

// 1 -> 900, 2 -> 800, 3 -> 600, 4 -> 400, 5 -> 200, anything else -> 1000.
DWORD SeverityFromPriority(DWORD priorityCode);

// After a fresh connection: a source for every alarm entry of the
// connection; one that exists already is re-pointed to the entry's variable,
// takes its third header value, and has each condition deactivated (no
// message, no time) and set to good quality (192). A server's source
// (CDerivedSource) that no entry names any more is withdrawn (below).
// `serverName` is handed to the supply.
SourceBuildResult BuildSourcesForVariable(const std::string& serverName);

// After the import has read node `nodeName`: a source for every entry of the
// node whose variable the import met and that has none yet; every source of
// the node whose variable the import did not meet is withdrawn (below).
SourceBuildResult BuildNodeSources(const std::string& nodeName);

// When a variable's area changes: withdraws the source baseName "."
// suffix(kind) if the cache has it: each condition is acknowledged as its
// acknowledger (or "Unknown User", kStringUnknownUser) and deactivated,
// with the source's AckInProgress set meanwhile, and the source leaves the
// cache.
// `area` is the old area, for the record only. Result 0.
int32_t WithdrawAreaSource(const std::string& baseName, const std::string& area, AlarmKind kind);

// Sets `quality` on every condition of every source whose name contains
// `text` (case-sensitive; "" matches all).
void SetQualityForSources(const std::string& text, WORD quality);

// Clears the AlarmVar of every source that refers to one of `variables`,
// which are about to be freed (the OPC DA client's end).
void DetachSourcesFromVariables(const std::unordered_set<const AlarmVar*>& variables);
