#include "toolkit/cfg_db.h"

#include "toolkit/opcae.h"

CAECfgDb g_CfgDb;

namespace {

// Numeric keys: VT_I4 (non-negative) or VT_UI4.
bool NumericKey(const VARIANT& key, DWORD& id) {
  if (key.vt == VT_UI4) {
    id = key.ulVal;
    return true;
  }
  if (key.vt == VT_I4 && key.lVal >= 0) {
    id = static_cast<DWORD>(key.lVal);
    return true;
  }
  return false;
}

template <class Key, class Record>
int FindIn(const std::map<Key, size_t>& index, const std::vector<Record>& records, const Key& key,
           Record& out) {
  auto it = index.find(key);
  if (it == index.end()) return CAECfgDb::kNotFound;
  out = records[it->second];
  return 0;
}

}  // namespace

int CAECfgDb::Insert(int table, const CAECfgRecCategory& record) {
  if (table != AE_CFG_CATEGORIES) return kWrongTable;
  DWORD type = record.eventType;
  if (type != OPC_SIMPLE_EVENT && type != OPC_TRACKING_EVENT && type != OPC_CONDITION_EVENT) return kBadValue;
  std::lock_guard lock(mutex_);
  if (!categoryIndex_.emplace(record.id, categories_.size()).second) return kDuplicate;
  categories_.push_back(record);
  return 0;
}

int CAECfgDb::Insert(int table, const CAECfgRecAttribute& record) {
  if (table != AE_CFG_ATTRIBUTES) return kWrongTable;
  std::lock_guard lock(mutex_);
  if (!categoryIndex_.count(record.categoryId)) return kUnknownReference;
  if (!attributeIndex_.emplace(record.id, attributes_.size()).second) return kDuplicate;
  attributes_.push_back(record);
  return 0;
}

int CAECfgDb::Insert(int table, const CAECfgRecCondition& record) {
  if (table != AE_CFG_CONDITIONS) return kWrongTable;
  if (record.name.empty()) return kBadValue;
  std::lock_guard lock(mutex_);
  if (!categoryIndex_.count(record.categoryId)) return kUnknownReference;
  if (!conditionIndex_.emplace(record.name, conditions_.size()).second) return kDuplicate;
  conditions_.push_back(record);
  return 0;
}

int CAECfgDb::Insert(int table, const CAECfgRecSubcondition& record) {
  if (table != AE_CFG_SUBCONDITIONS) return kWrongTable;
  if (record.name.empty() || record.qualifiedName.empty()) return kBadValue;
  std::lock_guard lock(mutex_);
  if (!conditionIndex_.count(record.conditionName)) return kUnknownReference;
  if (subconditionIndex_.count(record.qualifiedName)) return kDuplicate;
  for (const auto& s : subconditions_) {
    if (s.conditionName == record.conditionName && s.name == record.name) return kDuplicate;
  }
  subconditionIndex_.emplace(record.qualifiedName, subconditions_.size());
  subconditions_.push_back(record);
  return 0;
}

int CAECfgDb::Find(int table, const VARIANT& key, CAECfgRecCategory& out) const {
  if (table != AE_CFG_CATEGORIES) return kWrongTable;
  DWORD id;
  if (!NumericKey(key, id)) return kBadKey;
  std::lock_guard lock(mutex_);
  return FindIn(categoryIndex_, categories_, id, out);
}

int CAECfgDb::Find(int table, const VARIANT& key, CAECfgRecAttribute& out) const {
  if (table != AE_CFG_ATTRIBUTES) return kWrongTable;
  DWORD id;
  if (!NumericKey(key, id)) return kBadKey;
  std::lock_guard lock(mutex_);
  return FindIn(attributeIndex_, attributes_, id, out);
}

int CAECfgDb::Find(int table, const VARIANT& key, CAECfgRecCondition& out) const {
  if (table != AE_CFG_CONDITIONS) return kWrongTable;
  if (key.vt != VT_BSTR) return kBadKey;
  std::lock_guard lock(mutex_);
  return FindIn(conditionIndex_, conditions_, key.bstrVal, out);
}

int CAECfgDb::Find(int table, const VARIANT& key, CAECfgRecSubcondition& out) const {
  if (table != AE_CFG_SUBCONDITIONS) return kWrongTable;
  if (key.vt != VT_BSTR) return kBadKey;
  std::lock_guard lock(mutex_);
  return FindIn(subconditionIndex_, subconditions_, key.bstrVal, out);
}

void CAECfgDb::ClearAll() {
  std::lock_guard lock(mutex_);
  categories_.clear();
  attributes_.clear();
  conditions_.clear();
  subconditions_.clear();
  categoryIndex_.clear();
  attributeIndex_.clear();
  conditionIndex_.clear();
  subconditionIndex_.clear();
}

std::vector<CAECfgRecCategory> CAECfgDb::CategoriesOfEventTypes(DWORD eventTypeMask) const {
  std::lock_guard lock(mutex_);
  std::vector<CAECfgRecCategory> result;
  for (const auto& c : categories_) {
    if (c.eventType & eventTypeMask) result.push_back(c);
  }
  return result;
}

std::vector<CAECfgRecAttribute> CAECfgDb::AttributesOfCategory(DWORD categoryId) const {
  std::lock_guard lock(mutex_);
  std::vector<CAECfgRecAttribute> result;
  for (const auto& a : attributes_) {
    if (a.categoryId == categoryId) result.push_back(a);
  }
  return result;
}

void CAECfgDb::AttributeIdsOfCategory(DWORD categoryId, std::vector<DWORD>& ids) const {
  std::lock_guard lock(mutex_);
  ids.clear();
  for (const auto& a : attributes_) {
    if (a.categoryId == categoryId) ids.push_back(a.id);
  }
}

std::vector<CAECfgRecCondition> CAECfgDb::ConditionsOfCategory(DWORD categoryId) const {
  std::lock_guard lock(mutex_);
  std::vector<CAECfgRecCondition> result;
  for (const auto& c : conditions_) {
    if (c.categoryId == categoryId) result.push_back(c);
  }
  return result;
}

std::vector<CAECfgRecSubcondition> CAECfgDb::SubconditionsOfCondition(const std::string& conditionName) const {
  std::lock_guard lock(mutex_);
  std::vector<CAECfgRecSubcondition> result;
  for (const auto& s : subconditions_) {
    if (s.conditionName == conditionName) result.push_back(s);
  }
  return result;
}

bool CAECfgDb::HasCategory(DWORD categoryId) const {
  std::lock_guard lock(mutex_);
  return categoryIndex_.count(categoryId) != 0;
}

bool CAECfgDb::HasCondition(const std::string& conditionName) const {
  std::lock_guard lock(mutex_);
  return conditionIndex_.count(conditionName) != 0;
}
