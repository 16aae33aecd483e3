#include "ralto/config_failure_table.h"

CConfigFailureTable& CConfigFailureTable::Instance() {
  static CConfigFailureTable table;
  return table;
}

void CConfigFailureTable::Set(LONG kind, LONG id, HRESULT result) {
  std::lock_guard lock(mutex_);
  failures_[{kind, id}] = result;
}

void CConfigFailureTable::Clear() {
  std::lock_guard lock(mutex_);
  failures_.clear();
}

HRESULT CConfigFailureTable::Find(LONG kind, LONG id) const {
  std::lock_guard lock(mutex_);
  auto it = failures_.find({kind, id});
  return it == failures_.end() ? S_OK : it->second;
}
