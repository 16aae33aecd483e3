// CAlarmVarStore: the alarm variables of one OPC DA connection and the maps
// that index them: the data model that the OPC DA client (C_OPC_DA_Client)
// owns and the configuration import fills.
//
//   itemMap            item id -> AlarmVar; holds every variable (in its node,
//                      so a variable keeps its address while it is there)
//   pendingMap         item id -> AlarmVar still waiting for its OPC item
//   handleMap          OPC client handle -> AlarmVar
//   reverseHandleMap   AlarmVar -> OPC client handle
//   configTimeSecsMap, configTimeNSecsMap
//                      producer id -> ConfigTimeSecs / ConfigTimeNSecs last
//                      imported (the producer's change marker)
//
// Contract: the maps may be read directly; variables enter and leave
// itemMap only through FindOrAddVariable, SetVariableNode,
// SweepNodeVariables and the destructor, which keep the store's per-node
// lists right. Every operation REQUIRES
// g_ConfigMutex held (the connection manager's lock, under which the import
// and the client's operations run). The destructor frees every variable
// after detaching the alarm sources that still refer to one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "alarmconfig/alarm_condition_entry.h"
#include "alarmconfig/alarm_var.h"

// Item ids hash by block: the members and elements of one block ("N.B.AS",
// "N.B.AS[1]", "N.B.LP"...) land in neighbouring buckets, so that the import,
// which meets them together, touches one region of a large table. Not
// noexcept on purpose: the table then keeps each key's hash beside it and
// never hashes a key again when it grows.
struct ItemIdHash {
  size_t operator()(const std::string& itemId) const;
};

using AlarmVarMap = std::unordered_map<std::string, AlarmVar, ItemIdHash>;
using PendingVarMap = std::unordered_map<std::string, AlarmVar*>;
using HandleVarMap = std::unordered_map<DWORD, AlarmVar*>;
using ReverseHandleMap = std::unordered_map<const AlarmVar*, DWORD>;
using ConfigTimeMap = std::unordered_map<uint32_t, uint32_t>;

// The variables of each node, in the order they came, and among them those
// that may carry an alarm entry (".AS" and ".RS" members), so that entry
// walks pass over the other variables of a large plant without touching
// them.
struct NodeVariables {
  std::vector<AlarmVar*> all;
  std::vector<AlarmVar*> alarms;
};
using NodeVariableLists = std::unordered_map<std::string, NodeVariables>;

// Where a GetConditionEntries walk stands; a new one starts at the beginning.
// REQUIRES: the store unchanged between the calls of one walk.
struct ConditionEntryPosition {
  bool started = false;
  NodeVariableLists::iterator node;
  size_t index = 0;
};

class CAlarmVarStore {
 public:
  CAlarmVarStore();
  virtual ~CAlarmVarStore();
  CAlarmVarStore(const CAlarmVarStore&) = delete;
  CAlarmVarStore& operator=(const CAlarmVarStore&) = delete;

  AlarmVarMap itemMap;
  PendingVarMap pendingMap;
  HandleVarMap handleMap;
  ReverseHandleMap reverseHandleMap;
  ConfigTimeMap configTimeSecsMap;
  ConfigTimeMap configTimeNSecsMap;

  // The variable of `itemId`; null when absent.
  AlarmVar* FindVariable(const std::string& itemId);
  const AlarmVar* FindVariable(const std::string& itemId) const;
  // The entry (item id, variable) of `itemId`; when there is none, a new
  // one (a fresh AlarmVar with `nodeName` and `itemName`) is put under it and
  // `added` set. REQUIRES: itemId == MakeItemId(nodeName, itemName).
  AlarmVarMap::value_type& FindOrAddVariable(std::string itemId, const std::string& nodeName,
                                             const std::string& itemName, bool& added);
  // Makes room in itemMap for `count` variables in all, so that adding them
  // rehashes nothing on the way; never shrinks it.
  void ReserveVariables(size_t count);
  // Gives `variable` to node `nodeName` (its item id does not change: only
  // how the id divides into node and item name).
  void SetVariableNode(AlarmVar& variable, const std::string& nodeName);

  // Ends an import of node `nodeName`: every variable of the node that the
  // import met has seenInImport cleared; every other one leaves the handle
  // maps and pendingMap, loses its OPC item (RemoveServerItem) and is freed.
  // REQUIRES: the node's alarm sources no longer refer to the variables that
  // go (BuildNodeSources has run).
  void SweepNodeVariables(const std::string& nodeName);

  // Fills up to capacity - 1 entries from the walk at `position` (over every
  // variable, node by node), one per
  // ".AS" (kind 0 for "O0C", 5 for "O0D") or ".RS" (kind 3) variable, and
  // copies the block's ".LP" priority codes onto each such variable (kind 0:
  // codes 0..3; kind 5: code 0; kind 3: code 5 into 4 and 4 into 5). Clears
  // all `capacity` entries first. `count` is the index after the last entry
  // filled: entries 0..count are the call's, an empty sourceName marks one
  // unfilled. `done` is set when the walk has reached the end of itemMap.
  // Result 0; ERROR_INVALID_PARAMETER (87) for a capacity below 2 or no
  // entries, with nothing filled.
  int32_t GetConditionEntries(ConditionEntryPosition& position, size_t capacity,
                              AlarmConditionEntry* entries, size_t& count, bool& done);
  // Appends an entry, filled as above, for every ".AS"/".RS" variable of
  // node `nodeName`.
  void GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries);

 protected:
  // Removes the OPC item of a variable that leaves the store.
  virtual void RemoveServerItem(const AlarmVar& variable) = 0;

 private:
  bool FillConditionEntry(AlarmVar& variable, AlarmConditionEntry& entry) const;
  void CopyPriorityCodes(AlarmVar& variable, AlarmKind kind) const;

  // The variables of each node, so that a node's sweep and its entries do
  // not walk the whole plant, and walks meet variables in the order they
  // were made (near each other in memory) rather than in hash order.
  NodeVariableLists nodeVariables_;
};
