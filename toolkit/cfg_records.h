// Records of the configuration database (CAECfgDb): the event categories,
// their vendor attributes, the condition names and the subconditions that
// clients can query. Plain values; the database keeps copies.
#pragma once

#include <string>
#include <utility>

#include "platform/com.h"
#include "platform/variant.h"

class CAECfgRecCategory {
 public:
  CAECfgRecCategory() = default;
  CAECfgRecCategory(DWORD id, std::string description, DWORD eventType)
      : id(id), description(std::move(description)), eventType(eventType) {}

  DWORD id = 0;
  std::string description;
  DWORD eventType = 0;  // OPC_SIMPLE_EVENT, OPC_TRACKING_EVENT or OPC_CONDITION_EVENT
};

class CAECfgRecAttribute {
 public:
  CAECfgRecAttribute() = default;
  CAECfgRecAttribute(DWORD id, std::string description, VARTYPE type, DWORD categoryId)
      : id(id), description(std::move(description)), type(type), categoryId(categoryId) {}

  DWORD id = 0;
  std::string description;
  VARTYPE type = VT_EMPTY;
  DWORD categoryId = 0;
};

class CAECfgRecCondition {
 public:
  CAECfgRecCondition() = default;
  CAECfgRecCondition(std::string name, DWORD categoryId)
      : name(std::move(name)), categoryId(categoryId) {}

  std::string name;
  DWORD categoryId = 0;
};

class CAECfgRecSubcondition {
 public:
  CAECfgRecSubcondition() = default;
  CAECfgRecSubcondition(std::string name, std::string qualifiedName, std::string conditionName)
      : name(std::move(name)),
        qualifiedName(std::move(qualifiedName)),
        conditionName(std::move(conditionName)) {}

  std::string name;
  std::string qualifiedName;
  std::string conditionName;
};
