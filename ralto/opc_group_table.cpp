#include "ralto/opc_group_table.h"

#include "ralto/opc_group.h"

HRESULT CRaltoGroupTable::Reserve(const char* requestedName, std::string* name, OPCHANDLE* handle) {
  std::lock_guard lock(mutex_);
  std::string wanted = requestedName ? requestedName : "";
  OPCHANDLE next = lastHandle_ + 1;
  if (wanted.empty()) {
    for (DWORD n = next; wanted.empty() || NameTaken(wanted); ++n) wanted = "Group" + std::to_string(n);
  } else if (NameTaken(wanted)) {
    return OPC_E_DUPLICATENAME;
  }
  lastHandle_ = next;
  groups_[next] = Entry{wanted, nullptr};
  *name = wanted;
  *handle = next;
  return S_OK;
}

void CRaltoGroupTable::Attach(OPCHANDLE handle, CRaltoOpcGroup* group) {
  std::lock_guard lock(mutex_);
  groups_[handle].group = group;
}

void CRaltoGroupTable::Cancel(OPCHANDLE handle) {
  std::lock_guard lock(mutex_);
  groups_.erase(handle);
}

ComPtr<CRaltoOpcGroup> CRaltoGroupTable::Find(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, entry] : groups_) {
    if (entry.group && entry.name == name) return ComPtr<CRaltoOpcGroup>(entry.group);
  }
  return nullptr;
}

CRaltoOpcGroup* CRaltoGroupTable::Take(OPCHANDLE handle) {
  std::lock_guard lock(mutex_);
  auto it = groups_.find(handle);
  if (it == groups_.end() || !it->second.group) return nullptr;
  CRaltoOpcGroup* group = it->second.group;
  groups_.erase(it);
  return group;
}

HRESULT CRaltoGroupTable::Rename(OPCHANDLE handle, const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = groups_.find(handle);
  if (it == groups_.end()) return S_OK;  // removed from the server: no other name to clash with
  if (it->second.name == name) return S_OK;
  if (NameTaken(name)) return OPC_E_DUPLICATENAME;
  it->second.name = name;
  return S_OK;
}

std::vector<std::string> CRaltoGroupTable::Names() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [handle, entry] : groups_) {
    if (entry.group) names.push_back(entry.name);
  }
  return names;
}

DWORD CRaltoGroupTable::Count() {
  std::lock_guard lock(mutex_);
  DWORD count = 0;
  for (const auto& [handle, entry] : groups_) count += entry.group ? 1 : 0;
  return count;
}

void CRaltoGroupTable::Clear() {
  std::map<OPCHANDLE, Entry> groups;
  {
    std::lock_guard lock(mutex_);
    groups.swap(groups_);
  }
  for (auto& [handle, entry] : groups) {
    if (entry.group) {
      entry.group->MarkRemoved();
      entry.group->Release();
    }
  }
}

bool CRaltoGroupTable::NameTaken(const std::string& name) const {
  for (const auto& [handle, entry] : groups_) {
    if (entry.name == name) return true;
  }
  return false;
}
