#include "alarmconfig/config.h"

#include <gtest/gtest.h>

#include "toolkit/cfg_db.h"
#include "toolkit/cfg_records.h"

namespace {

class CatalogueTest : public testing::Test {
 protected:
  void SetUp() override {
    g_CfgDb.ClearAll();
    InitEventConfiguration();
  }
  void TearDown() override { g_CfgDb.ClearAll(); }

  static bool HasCategory(int32_t id, std::string* description = nullptr) {
    CAECfgRecCategory rec;
    if (g_CfgDb.Find(AE_CFG_CATEGORIES, VARIANT::I4(id), rec) != 0) return false;
    if (description) *description = rec.description;
    EXPECT_EQ(rec.eventType, 4u);
    return true;
  }
};

TEST_F(CatalogueTest, DeclaresThreeConditionCategoriesAndNoCategoryTwo) {
  std::string d;
  ASSERT_TRUE(HasCategory(1, &d));
  EXPECT_EQ(d, "A");
  ASSERT_TRUE(HasCategory(3, &d));
  EXPECT_EQ(d, "Bit");
  ASSERT_TRUE(HasCategory(4, &d));
  EXPECT_EQ(d, "RoC");
  EXPECT_FALSE(HasCategory(2));
  EXPECT_FALSE(HasCategory(0));
}

TEST_F(CatalogueTest, EachCategoryCarriesItsOwnAttributePair) {
  const DWORD categoryOf[] = {1, 1, 3, 3, 4, 4};
  for (int32_t id = 0; id < 6; ++id) {
    CAECfgRecAttribute rec;
    ASSERT_EQ(g_CfgDb.Find(AE_CFG_ATTRIBUTES, VARIANT::I4(id), rec), 0) << id;
    EXPECT_EQ(rec.categoryId, categoryOf[id]);
    EXPECT_EQ(rec.type, VT_BSTR);
    EXPECT_EQ(rec.description, id % 2 == 0 ? "Ack_Comment" : "Ack_By_FullName");
  }
  CAECfgRecAttribute none;
  EXPECT_NE(g_CfgDb.Find(AE_CFG_ATTRIBUTES, VARIANT::I4(6), none), 0);
}

TEST_F(CatalogueTest, ConditionsAndTheirSubconditions) {
  const std::pair<const char*, DWORD> conditions[] = {{"Level", 1}, {"RoC", 4}, {"Bit", 3}};
  for (auto [name, category] : conditions) {
    CAECfgRecCondition rec;
    ASSERT_EQ(g_CfgDb.Find(AE_CFG_CONDITIONS, VARIANT::Bstr(name), rec), 0) << name;
    EXPECT_EQ(rec.categoryId, category);
  }
  // Two subconditions share the name "Normal": one per multi-state condition.
  CAECfgRecSubcondition levelNormal, rocNormal, rocUp;
  ASSERT_EQ(g_CfgDb.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr("Level.Normal"), levelNormal), 0);
  ASSERT_EQ(g_CfgDb.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr("RoC.Normal"), rocNormal), 0);
  EXPECT_EQ(levelNormal.name, "Normal");
  EXPECT_EQ(levelNormal.conditionName, "Level");
  EXPECT_EQ(rocNormal.name, "Normal");
  EXPECT_EQ(rocNormal.conditionName, "RoC");
  ASSERT_EQ(g_CfgDb.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr("RoC.Up"), rocUp), 0);
  EXPECT_EQ(rocUp.name, "RoCU");

  int found = 0;
  for (const auto& row : EventSubconditionTable()) {
    CAECfgRecSubcondition rec;
    found += g_CfgDb.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr(row.qualifiedName), rec) == 0;
  }
  EXPECT_EQ(found, 9);
}

TEST_F(CatalogueTest, DeclaringTwiceChangesNothing) {
  InitEventConfiguration();  // every row refused as a duplicate, silently
  std::string d;
  ASSERT_TRUE(HasCategory(3, &d));
  EXPECT_EQ(d, "Bit");
  CAECfgRecSubcondition rec;
  EXPECT_EQ(g_CfgDb.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr("Bit.Bit"), rec), 0);
}

TEST(SubconditionRows, RowsOtherCodeAddressesByNumber) {
  auto rows = EventSubconditionTable();
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_STREQ(rows[0].name, "Normal");
  EXPECT_STREQ(rows[0].condition, "Level");
  EXPECT_STREQ(rows[4].name, "HiHi");
  EXPECT_STREQ(rows[5].name, "Normal");
  EXPECT_STREQ(rows[5].condition, "RoC");
  EXPECT_STREQ(rows[7].qualifiedName, "RoC.Down");
  EXPECT_STREQ(rows[8].name, "Bit");
}

TEST(WordTables, InputsOutsideTheTablesLeaveTheOutputAlone) {
  std::string out = "keep";
  SubconditionTypeName(out, kAlarmLevel, 0);
  EXPECT_EQ(out, "keep");
  SubconditionTypeName(out, kAlarmRateOfChange, 1);  // only +2 and -2 name a rate of change
  EXPECT_EQ(out, "keep");
  SubconditionTypeName(out, kAlarmFixedDeviation, -1);
  EXPECT_EQ(out, "keep");
  SubconditionTypeName(out, 6, 1);
  EXPECT_EQ(out, "keep");
  ConditionTypeName(out, 6);
  EXPECT_EQ(out, "keep");
  EXPECT_EQ(SourceKindSuffix(6), "");
  EXPECT_EQ(SourceKindSuffix(0xFFFF), "");
}

TEST(WordTables, WordsOfEachKind) {
  auto sub = [](AlarmKind kind, int32_t state) {
    std::string out;
    SubconditionTypeName(out, kind, state);
    return out;
  };
  EXPECT_EQ(sub(kAlarmLevel, -2), "LoLo");
  EXPECT_EQ(sub(kAlarmLevel, -1), "Lo");
  EXPECT_EQ(sub(kAlarmLevel, 1), "Hi");
  EXPECT_EQ(sub(kAlarmLevel, 2), "HiHi");
  EXPECT_EQ(sub(kAlarmPercentDeviation, 2), "Major");
  EXPECT_EQ(sub(kAlarmRateOfChange, 2), "RoCU");
  EXPECT_EQ(sub(kAlarmRateOfChange, -2), "RoCD");
  EXPECT_EQ(sub(kAlarmWord, -7), "Word");
  EXPECT_EQ(sub(kAlarmBit, 0), "Bit");

  std::string cond;
  ConditionTypeName(cond, kAlarmRateOfChange);
  EXPECT_EQ(cond, "RoC");
  ConditionTypeName(cond, kAlarmPercentDeviation);
  EXPECT_EQ(cond, "PercentDev");
  EXPECT_EQ(SourceKindSuffix(kAlarmLevel), "A");
  EXPECT_EQ(SourceKindSuffix(kAlarmRateOfChange), "ROC");
  EXPECT_EQ(SourceKindSuffix(kAlarmFixedDeviation), "Fixed Deviation");
  EXPECT_EQ(SourceKindSuffix(kAlarmBit), "Bit");
}

}  // namespace
