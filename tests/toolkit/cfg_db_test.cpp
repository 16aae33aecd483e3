// Configuration database: keys, references, refusals and queries.
#include <gtest/gtest.h>

#include "toolkit/cfg_db.h"
#include "toolkit/opcae.h"

namespace {

class CfgDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(db.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(1, "A", OPC_CONDITION_EVENT)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(4, "RoC", OPC_CONDITION_EVENT)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(9, "Operator", OPC_TRACKING_EVENT)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(0, "Ack_Comment", VT_BSTR, 1)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(5, "Ack_By_FullName", VT_BSTR, 4)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Level", 1)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("RoC", 4)), 0);
    ASSERT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Normal", "Level.Normal", "Level")), 0);
    ASSERT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Hi", "Level.Hi", "Level")), 0);
    ASSERT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Normal", "RoC.Normal", "RoC")), 0);
  }
  CAECfgDb db;
};

TEST_F(CfgDbTest, FindsByKeyWithEitherIntegerType) {
  CAECfgRecCategory category;
  ASSERT_EQ(db.Find(AE_CFG_CATEGORIES, VARIANT::I4(4), category), 0);
  EXPECT_EQ(category.description, "RoC");
  EXPECT_EQ(category.eventType, OPC_CONDITION_EVENT);
  ASSERT_EQ(db.Find(CAECfgDb::AE_CFG_CATEGORIES, VARIANT::UI4(1), category), 0);
  EXPECT_EQ(category.id, 1u);

  CAECfgRecAttribute attribute;
  ASSERT_EQ(db.Find(AE_CFG_ATTRIBUTES, VARIANT::I4(5), attribute), 0);
  EXPECT_EQ(attribute.description, "Ack_By_FullName");
  EXPECT_EQ(attribute.type, VT_BSTR);
  EXPECT_EQ(attribute.categoryId, 4u);

  CAECfgRecCondition condition;
  ASSERT_EQ(db.Find(AE_CFG_CONDITIONS, VARIANT::Bstr("RoC"), condition), 0);
  EXPECT_EQ(condition.categoryId, 4u);

  CAECfgRecSubcondition sub;
  ASSERT_EQ(db.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr("RoC.Normal"), sub), 0);
  EXPECT_EQ(sub.name, "Normal");
  EXPECT_EQ(sub.conditionName, "RoC");
}

TEST_F(CfgDbTest, FindFailsForMissingKeysWrongKeyTypesAndWrongTables) {
  CAECfgRecCategory category;
  EXPECT_NE(db.Find(AE_CFG_CATEGORIES, VARIANT::I4(2), category), 0);
  EXPECT_NE(db.Find(AE_CFG_CATEGORIES, VARIANT::I4(-1), category), 0);
  EXPECT_NE(db.Find(AE_CFG_CATEGORIES, VARIANT::Bstr("1"), category), 0);
  EXPECT_NE(db.Find(AE_CFG_CATEGORIES, VARIANT(), category), 0);
  EXPECT_NE(db.Find(AE_CFG_ATTRIBUTES, VARIANT::I4(1), category), 0);
  CAECfgRecCondition condition;
  EXPECT_NE(db.Find(AE_CFG_CONDITIONS, VARIANT::I4(1), condition), 0);
  EXPECT_NE(db.Find(AE_CFG_CONDITIONS, VARIANT::Bstr("level"), condition), 0);
  CAECfgRecSubcondition sub;
  EXPECT_NE(db.Find(AE_CFG_SUBCONDITIONS, VARIANT::Bstr("Hi"), sub), 0);
}

TEST_F(CfgDbTest, RefusesDuplicatesWrongTablesAndUnknownReferences) {
  EXPECT_EQ(db.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(1, "again", OPC_CONDITION_EVENT)), CAECfgDb::kDuplicate);
  EXPECT_EQ(db.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(7, "none", 0)), CAECfgDb::kBadValue);
  EXPECT_EQ(db.Insert(AE_CFG_ATTRIBUTES, CAECfgRecCategory(8, "x", OPC_CONDITION_EVENT)), CAECfgDb::kWrongTable);
  EXPECT_EQ(db.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(0, "dup", VT_BSTR, 1)), CAECfgDb::kDuplicate);
  EXPECT_EQ(db.Insert(AE_CFG_ATTRIBUTES, CAECfgRecAttribute(6, "orphan", VT_BSTR, 2)), CAECfgDb::kUnknownReference);
  EXPECT_EQ(db.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Level", 4)), CAECfgDb::kDuplicate);
  EXPECT_EQ(db.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Bit", 3)), CAECfgDb::kUnknownReference);
  EXPECT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecCondition("Bit", 1)), CAECfgDb::kWrongTable);
  EXPECT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Hi", "Level.High", "Level")), CAECfgDb::kDuplicate);
  EXPECT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Lo", "Level.Hi", "Level")), CAECfgDb::kDuplicate);
  EXPECT_EQ(db.Insert(AE_CFG_SUBCONDITIONS, CAECfgRecSubcondition("Bit", "Bit.Bit", "Bit")), CAECfgDb::kUnknownReference);

  // A refused row leaves the table as it was.
  CAECfgRecAttribute attribute;
  EXPECT_NE(db.Find(AE_CFG_ATTRIBUTES, VARIANT::I4(6), attribute), 0);
  EXPECT_EQ(db.SubconditionsOfCondition("Level").size(), 2u);
}

TEST_F(CfgDbTest, QueriesKeepInsertionOrder) {
  auto conditionCategories = db.CategoriesOfEventTypes(OPC_CONDITION_EVENT);
  ASSERT_EQ(conditionCategories.size(), 2u);
  EXPECT_EQ(conditionCategories[0].id, 1u);
  EXPECT_EQ(conditionCategories[1].id, 4u);
  EXPECT_EQ(db.CategoriesOfEventTypes(OPC_ALL_EVENTS).size(), 3u);
  EXPECT_TRUE(db.CategoriesOfEventTypes(OPC_SIMPLE_EVENT).empty());

  auto attributes = db.AttributesOfCategory(4);
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ(attributes[0].id, 5u);
  auto conditions = db.ConditionsOfCategory(1);
  ASSERT_EQ(conditions.size(), 1u);
  EXPECT_EQ(conditions[0].name, "Level");
  auto subs = db.SubconditionsOfCondition("Level");
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].name, "Normal");
  EXPECT_EQ(subs[1].name, "Hi");
}

TEST_F(CfgDbTest, ClearAllEmptiesEveryTable) {
  db.ClearAll();
  CAECfgRecCategory category;
  EXPECT_NE(db.Find(AE_CFG_CATEGORIES, VARIANT::I4(1), category), 0);
  EXPECT_TRUE(db.CategoriesOfEventTypes(OPC_ALL_EVENTS).empty());
  EXPECT_FALSE(db.HasCondition("Level"));
  EXPECT_EQ(db.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(1, "A", OPC_CONDITION_EVENT)), 0);
}

}  // namespace
