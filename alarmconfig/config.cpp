#include "alarmconfig/config.h"

#include <iterator>

#include "toolkit/cfg_db.h"
#include "toolkit/cfg_records.h"

namespace {

constexpr DWORD kConditionEvent = 4;

constexpr EventCategoryRow kCategories[] = {
    {1, "A", kConditionEvent},
    {3, "Bit", kConditionEvent},
    {4, "RoC", kConditionEvent},
};

// Each category carries its own pair: the acknowledgement comment and the
// full name of who acknowledged.
constexpr EventAttributeRow kAttributes[] = {
    {0, "Ack_Comment", VT_BSTR, 1}, {1, "Ack_By_FullName", VT_BSTR, 1},
    {2, "Ack_Comment", VT_BSTR, 3}, {3, "Ack_By_FullName", VT_BSTR, 3},
    {4, "Ack_Comment", VT_BSTR, 4}, {5, "Ack_By_FullName", VT_BSTR, 4},
};

constexpr EventConditionRow kConditions[] = {
    {"Level", 1},
    {"RoC", 4},
    {"Bit", 3},
};

constexpr EventSubconditionRow kSubconditions[] = {
    {"Normal", "Level.Normal", "Level"},
    {"LoLo", "Level.LoLo", "Level"},
    {"Lo", "Level.Lo", "Level"},
    {"Hi", "Level.Hi", "Level"},
    {"HiHi", "Level.HiHi", "Level"},
    {"Normal", "RoC.Normal", "RoC"},
    {"RoCU", "RoC.Up", "RoC"},
    {"RoCD", "RoC.Down", "RoC"},
    {"Bit", "Bit.Bit", "Bit"},
};

struct KindWords {
  const char* condition;
  const char* suffix;
};

constexpr KindWords kKindWords[] = {
    {"Level", "A"},
    {"FixedDev", "Fixed Deviation"},
    {"PercentDev", "Percent Deviation"},
    {"RoC", "ROC"},
    {"Word", "Word"},
    {"Bit", "Bit"},
};

}  // namespace

std::span<const EventCategoryRow> EventCategoryTable() { return kCategories; }
std::span<const EventAttributeRow> EventAttributeTable() { return kAttributes; }
std::span<const EventConditionRow> EventConditionTable() { return kConditions; }
std::span<const EventSubconditionRow> EventSubconditionTable() { return kSubconditions; }

void InitEventConfiguration() {
  for (const auto& r : kCategories)
    g_CfgDb.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(r.id, r.description, r.eventType));
  for (const auto& r : kAttributes)
    g_CfgDb.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(r.id, r.description, r.type, r.categoryId));
  for (const auto& r : kConditions)
    g_CfgDb.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition(r.name, r.categoryId));
  for (const auto& r : kSubconditions)
    g_CfgDb.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition(r.name, r.qualifiedName, r.condition));
}

void ConditionTypeName(std::string& out, AlarmKind kind) {
  if (kind < std::size(kKindWords)) out = kKindWords[kind].condition;
}

void SubconditionTypeName(std::string& out, AlarmKind kind, int32_t state) {
  switch (kind) {
    case kAlarmLevel:
      if (state == -2) out = "LoLo";
      else if (state == -1) out = "Lo";
      else if (state == 1) out = "Hi";
      else if (state == 2) out = "HiHi";
      break;
    case kAlarmFixedDeviation:
    case kAlarmPercentDeviation:
      if (state == 1) out = "Minor";
      else if (state == 2) out = "Major";
      break;
    case kAlarmRateOfChange:
      if (state == 2) out = "RoCU";
      else if (state == -2) out = "RoCD";
      break;
    case kAlarmWord:
      out = "Word";
      break;
    case kAlarmBit:
      out = "Bit";
      break;
    default:
      break;
  }
}

std::string SourceKindSuffix(AlarmKind kind) {
  return kind < std::size(kKindWords) ? kKindWords[kind].suffix : "";
}
