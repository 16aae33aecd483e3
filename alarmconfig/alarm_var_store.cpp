#include "alarmconfig/alarm_var_store.h"

#include <algorithm>
#include <unordered_set>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/source_name.h"
#include "platform/win32_error.h"

namespace {

// Hash tables sized for tens of thousands of variables from the start (a
// prime), and small ones for the per-producer markers.
constexpr size_t kVariableBuckets = 72019;
constexpr size_t kProducerBuckets = 255;

// Only ".AS" and ".RS" members become alarm entries (FillConditionEntry
// decides). Judged by the item id, which never changes, however the id
// divides into node and item name.
bool MayCarryEntry(std::string_view itemId) { return itemId.ends_with(".AS") || itemId.ends_with(".RS"); }

// Both lists or neither.
void AddToNode(NodeVariables& node, AlarmVar* variable, std::string_view itemId) {
  node.all.push_back(variable);
  if (!MayCarryEntry(itemId)) return;
  try {
    node.alarms.push_back(variable);
  } catch (...) {
    node.all.pop_back();
    throw;
  }
}

}  // namespace

size_t ItemIdHash::operator()(const std::string& itemId) const {
  // The block is the id up to the last "." before an element's "[n]".
  std::string_view id = itemId;
  size_t end = !id.empty() && id.back() == ']' ? id.rfind('[') : id.size();
  size_t dot = end == 0 || end == std::string_view::npos ? std::string_view::npos : id.rfind('.', end - 1);
  if (dot == std::string_view::npos) return std::hash<std::string_view>()(id);
  size_t member = 0;
  for (char c : id.substr(dot)) member = member * 31 + static_cast<unsigned char>(c);
  return std::hash<std::string_view>()(id.substr(0, dot)) * 16 + member % 16;
}

CAlarmVarStore::CAlarmVarStore() {
  itemMap.rehash(kVariableBuckets);
  pendingMap.rehash(kVariableBuckets);
  handleMap.rehash(kVariableBuckets);
  reverseHandleMap.rehash(kVariableBuckets);
  configTimeSecsMap.rehash(kProducerBuckets);
  configTimeNSecsMap.rehash(kProducerBuckets);
}

CAlarmVarStore::~CAlarmVarStore() {
  if (itemMap.empty()) return;
  std::unordered_set<const AlarmVar*> variables;
  variables.reserve(itemMap.size());
  for (const auto& [id, variable] : itemMap) variables.insert(&variable);
  DetachSourcesFromVariables(variables);
}

AlarmVar* CAlarmVarStore::FindVariable(const std::string& itemId) {
  auto it = itemMap.find(itemId);
  return it == itemMap.end() ? nullptr : &it->second;
}

const AlarmVar* CAlarmVarStore::FindVariable(const std::string& itemId) const {
  auto it = itemMap.find(itemId);
  return it == itemMap.end() ? nullptr : &it->second;
}

AlarmVarMap::value_type& CAlarmVarStore::FindOrAddVariable(std::string itemId, const std::string& nodeName,
                                                           const std::string& itemName, bool& added) {
  // One look-up whether the variable is there or not: the import asks for
  // every member and element of a plant.
  auto [it, inserted] = itemMap.try_emplace(std::move(itemId));
  added = inserted;
  AlarmVar& variable = it->second;
  if (!inserted) return *it;
  try {
    variable.nodeName = nodeName;
    variable.itemName = itemName;
    AddToNode(nodeVariables_[nodeName], &variable, it->first);
  } catch (...) {
    itemMap.erase(it);
    throw;
  }
  return *it;
}

void CAlarmVarStore::ReserveVariables(size_t count) {
  if (count > itemMap.bucket_count() * itemMap.max_load_factor()) itemMap.reserve(count);
}

void CAlarmVarStore::SetVariableNode(AlarmVar& variable, const std::string& nodeName) {
  if (variable.nodeName == nodeName) return;
  std::string itemId = variable.ItemId();
  auto old = nodeVariables_.find(variable.nodeName);
  if (old != nodeVariables_.end()) {
    std::erase(old->second.all, &variable);
    std::erase(old->second.alarms, &variable);
    if (old->second.all.empty()) nodeVariables_.erase(old);
  }
  variable.nodeName = nodeName;
  AddToNode(nodeVariables_[nodeName], &variable, itemId);
}

void CAlarmVarStore::SweepNodeVariables(const std::string& nodeName) {
  auto node = nodeVariables_.find(nodeName);
  if (node == nodeVariables_.end()) return;
  // The alarm list first, while seenInImport still tells what stays.
  std::erase_if(node->second.alarms, [](const AlarmVar* variable) { return !variable->seenInImport; });
  std::vector<AlarmVar*>& variables = node->second.all;
  size_t kept = 0;
  for (AlarmVar* variable : variables) {
    if (variable->seenInImport) {
      variable->seenInImport = false;
      variables[kept++] = variable;
      continue;
    }
    auto handle = reverseHandleMap.find(variable);
    if (handle != reverseHandleMap.end()) {
      handleMap.erase(handle->second);
      reverseHandleMap.erase(handle);
    }
    std::string itemId = variable->ItemId();
    // An item still waiting to be added must not be added after it is gone.
    pendingMap.erase(itemId);
    RemoveServerItem(*variable);
    itemMap.erase(itemId);
  }
  variables.resize(kept);
  if (variables.empty()) nodeVariables_.erase(node);
}

void CAlarmVarStore::CopyPriorityCodes(AlarmVar& variable, AlarmKind kind) const {
  const AlarmVar* priorities =
      FindVariable(MakeItemId(variable.nodeName, variable.BlockName() + ".LP"));
  if (!priorities) return;
  const DWORD* from = priorities->priorityCodes;
  DWORD* to = variable.priorityCodes;
  switch (kind) {
    case kAlarmLevel:
      std::copy(from, from + 4, to);
      break;
    case kAlarmBit:
      to[0] = from[0];
      break;
    case kAlarmRateOfChange:
      to[4] = from[5];
      to[5] = from[4];
      break;
    default:
      break;
  }
}

bool CAlarmVarStore::FillConditionEntry(AlarmVar& variable, AlarmConditionEntry& entry) const {
  std::string_view suffix = variable.KindSuffix();
  AlarmKind kind;
  if (suffix == ".AS" && variable.blockType == "O0C") {
    kind = kAlarmLevel;
  } else if (suffix == ".AS" && variable.blockType == "O0D") {
    kind = kAlarmBit;
  } else if (suffix == ".RS" && variable.blockType == "O0C") {
    // A digital block has no rate-of-change alarm: its ".RS" member has no
    // event times and its state word is read from ".AS", so a source for
    // it could never be driven.
    kind = kAlarmRateOfChange;
  } else {
    return false;
  }
  entry.kind = kind;
  entry.sourceName = SourceBaseName(variable);
  entry.nodeName = variable.nodeName;
  entry.variable = &variable;
  CopyPriorityCodes(variable, kind);
  return true;
}

int32_t CAlarmVarStore::GetConditionEntries(ConditionEntryPosition& position, size_t capacity,
                                            AlarmConditionEntry* entries, size_t& count, bool& done) {
  if (capacity < 2 || !entries) return ERROR_INVALID_PARAMETER;
  for (size_t i = 0; i < capacity; ++i) entries[i] = AlarmConditionEntry();
  if (!position.started) {
    position.node = nodeVariables_.begin();
    position.index = 0;
    position.started = true;
  }
  done = false;
  size_t index = 0;
  for (; position.node != nodeVariables_.end(); ++position.node, position.index = 0) {
    const std::vector<AlarmVar*>& variables = position.node->second.alarms;
    while (position.index < variables.size()) {
      AlarmVar& variable = *variables[position.index++];
      if (FillConditionEntry(variable, entries[index]) && ++index == capacity - 1) {
        count = index;
        return 0;
      }
    }
  }
  done = true;
  count = index;
  return 0;
}

void CAlarmVarStore::GetNodeConditionEntries(const std::string& nodeName,
                                             AlarmConditionEntries& entries) {
  auto node = nodeVariables_.find(nodeName);
  if (node == nodeVariables_.end()) return;
  for (AlarmVar* variable : node->second.alarms) {
    AlarmConditionEntry entry;
    if (FillConditionEntry(*variable, entry))
      entries.push_back(std::make_unique<AlarmConditionEntry>(std::move(entry)));
  }
}
