// The configuration database: event categories, vendor attributes,
// condition names and subconditions that the server declares once at start
// and that clients query (QueryEventCategories, QueryConditionNames, ...).
//
// Contract: Insert keeps a copy and returns 0, or refuses the record with a
// nonzero code and changes nothing. Keys: categories and attributes by ID,
// conditions by name, subconditions by qualified name; a subcondition's
// name is also unique within its condition. Attributes and conditions must
// name a known category, subconditions a known condition. Find returns 0 and
// a copy when the key is present; keys for tables 1 and 2 are VT_I4 or
// VT_UI4, for tables 3 and 4 VT_BSTR; any other key type is "not found".
// Queries return copies in insertion order. Every method is thread-safe;
// its lock takes no other, so it may be used under any toolkit lock.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/variant.h"
#include "toolkit/cfg_records.h"

// Table numbers, also reachable as CAECfgDb::AE_CFG_...
enum AECfgTable { AE_CFG_CATEGORIES = 1, AE_CFG_ATTRIBUTES = 2, AE_CFG_CONDITIONS = 3, AE_CFG_SUBCONDITIONS = 4 };

class CAECfgDb {
 public:
  static constexpr int AE_CFG_CATEGORIES = ::AE_CFG_CATEGORIES;
  static constexpr int AE_CFG_ATTRIBUTES = ::AE_CFG_ATTRIBUTES;
  static constexpr int AE_CFG_CONDITIONS = ::AE_CFG_CONDITIONS;
  static constexpr int AE_CFG_SUBCONDITIONS = ::AE_CFG_SUBCONDITIONS;
  // Nonzero results of Insert and Find.
  enum Result { kDuplicate = 1, kWrongTable = 2, kUnknownReference = 3, kBadValue = 4, kNotFound = 5, kBadKey = 6 };

  // Refused with kBadValue: a category whose event type is not exactly one of
  // OPC_SIMPLE_EVENT, OPC_TRACKING_EVENT, OPC_CONDITION_EVENT.
  int Insert(int table, const CAECfgRecCategory& record);
  int Insert(int table, const CAECfgRecAttribute& record);
  int Insert(int table, const CAECfgRecCondition& record);
  int Insert(int table, const CAECfgRecSubcondition& record);

  int Find(int table, const VARIANT& key, CAECfgRecCategory& out) const;
  int Find(int table, const VARIANT& key, CAECfgRecAttribute& out) const;
  int Find(int table, const VARIANT& key, CAECfgRecCondition& out) const;
  int Find(int table, const VARIANT& key, CAECfgRecSubcondition& out) const;

  void ClearAll();

  // Categories whose event type is in the mask.
  std::vector<CAECfgRecCategory> CategoriesOfEventTypes(DWORD eventTypeMask) const;
  std::vector<CAECfgRecAttribute> AttributesOfCategory(DWORD categoryId) const;
  // The same IDs only, into `ids` (its storage reused: the event road asks
  // at every event).
  void AttributeIdsOfCategory(DWORD categoryId, std::vector<DWORD>& ids) const;
  std::vector<CAECfgRecCondition> ConditionsOfCategory(DWORD categoryId) const;
  std::vector<CAECfgRecSubcondition> SubconditionsOfCondition(const std::string& conditionName) const;
  bool HasCategory(DWORD categoryId) const;
  bool HasCondition(const std::string& conditionName) const;

 private:
  mutable std::mutex mutex_;
  std::vector<CAECfgRecCategory> categories_;
  std::vector<CAECfgRecAttribute> attributes_;
  std::vector<CAECfgRecCondition> conditions_;
  std::vector<CAECfgRecSubcondition> subconditions_;
  // Key -> index into the vectors above.
  std::map<DWORD, size_t> categoryIndex_;
  std::map<DWORD, size_t> attributeIndex_;
  std::map<std::string, size_t> conditionIndex_;
  std::map<std::string, size_t> subconditionIndex_;
};

extern CAECfgDb g_CfgDb;
