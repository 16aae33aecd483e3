// The configuration import: what a full import makes of the documents, and
// what incremental imports do when the documents change or do not.
#include "alarmconfig/config_import.h"

#include <gtest/gtest.h>

#include <set>

#include "alarmconfig/derived_source.h"
#include "alarmconfig/source_name.h"
#include "import_fixture.h"
#include "toolkit/condition.h"
#include "toolkit/source_cache.h"

namespace {

using plantdoc::AnalogBlock;
using plantdoc::DigitalBlock;
using plantdoc::ProducedData;
using plantdoc::Summary;

std::set<std::string> SourceNames() {
  std::set<std::string> names;
  for (const CAESourcePtr& s : g_SourceCache.Snapshot()) names.insert(s->Name());
  return names;
}

// The source names that the store's alarm variables call for.
std::set<std::string> ExpectedSourceNames(const CAlarmVarStore& store) {
  std::set<std::string> names;
  for (const auto& [id, v] : store.itemMap) {
    std::string_view suffix = v.KindSuffix();
    if (suffix == ".AS") names.insert(BuildSourceName(SourceBaseName(v), v.blockType == "O0C" ? kAlarmLevel : kAlarmBit));
    if (suffix == ".RS") names.insert(BuildSourceName(SourceBaseName(v), kAlarmRateOfChange));
  }
  return names;
}

std::vector<DWORD> Codes(const AlarmVar* v) { return {v->priorityCodes, v->priorityCodes + 6}; }

std::vector<std::pair<std::string, DWORD>> Subconditions(const std::string& source, const std::string& condition) {
  std::vector<std::pair<std::string, DWORD>> subs;
  CAESourcePtr s = g_SourceCache.FindSource(source);
  if (!s) return subs;
  CAECondition* c = s->GetCondition(condition);
  if (!c) return subs;
  for (int i = 0; i < c->NumberOfSubconditions(); ++i)
    subs.emplace_back(c->GetSubconditionAt(i)->Name(), c->GetSubconditionAt(i)->Severity());
  return subs;
}

class ConfigImport : public ImportTest {
 protected:
  CTestVarStore store_;
  CStoreEntrySupply supply_{store_};

  const AlarmVar* Var(const std::string& id) const { return store_.FindVariable(id); }
};

TEST_F(ConfigImport, FullImportOfTheExamplePlant) {
  CopyDocuments(AE_EXAMPLE_PLANT_DIR);
  ASSERT_EQ(Import(store_, false), S_OK);

  const AlarmVar* level = Var("TANKFARM.LIC101.AS");
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(level->blockType, "O0C");
  EXPECT_EQ(level->nodeName, "TANKFARM");
  EXPECT_EQ(level->area, "Tank_Farm/T-101");
  EXPECT_EQ(level->message, "T-101 level %VAL % %STATE");
  EXPECT_EQ(level->rocMessage, "");
  EXPECT_TRUE(level->initialPending);
  EXPECT_FALSE(level->seenInImport);  // cleared by the node's sweep
  EXPECT_EQ(level->serverHandle, 0u);
  const AlarmVar* roc = Var("TANKFARM.LIC101.RS");
  ASSERT_NE(roc, nullptr);
  EXPECT_EQ(roc->rocMessage, "T-101 level changing fast, now %VAL %: %STATE");
  for (const char* id : {"TANKFARM.LIC101.AS[1]", "TANKFARM.LIC101.AS[4]", "TANKFARM.LIC101.RS[1]",
                         "TANKFARM.LIC101.RS[4]"}) {
    const AlarmVar* element = Var(id);
    ASSERT_NE(element, nullptr) << id;
    EXPECT_EQ(element->blockType, "O0C");
    EXPECT_EQ(element->area, "");
    EXPECT_TRUE(element->initialPending);
  }
  EXPECT_EQ(Var("TANKFARM.LIC101.AS[5]"), nullptr);
  EXPECT_EQ(Var("TANKFARM.LIC101.LP[1]"), nullptr);
  EXPECT_EQ(Codes(Var("TANKFARM.LIC101.LP")), (std::vector<DWORD>{1, 2, 2, 1, 3, 3}));
  EXPECT_NE(Var("TANKFARM.LIC101.FC"), nullptr);
  EXPECT_NE(Var("TANKFARM.LIC101.PI"), nullptr);
  // Irregular areas and lower-case placeholders as written.
  EXPECT_EQ(Var("TANKFARM.LIC102.AS")->area, "_Tank_Farm/T-102");
  EXPECT_EQ(Var("TANKFARM.LIC102.AS")->message, "T-102 level %val % %state");
  EXPECT_EQ(Var("TANKFARM.LIC103.AS")->area, "Tank_Farm/T-103");
  EXPECT_EQ(Var("UTILITY.TI510.AS")->area, "Utilities_/_Cooling_Water");
  // Embedded blocks take the EmbeddedBlock's area and message.
  EXPECT_EQ(Var("TANKFARM.M103.MTR.AS")->area, "Tank_Farm/T-103/Mixer_M-103");
  EXPECT_EQ(Var("TANKFARM.M103.MTR.AS")->message, "Mixer M-103 motor trip, running %VAL: %STATE");
  // An out-of-range code is taken as 0.
  EXPECT_EQ(Codes(Var("UTILITY.BS503.LP"))[0], 0u);
  // The operator station has no ProducedData.
  for (const auto& [id, v] : store_.itemMap) EXPECT_NE(v.nodeName, "HMI01");

  EXPECT_TRUE(store_.pendingMap.empty());
  EXPECT_EQ(store_.configTimeSecsMap.at(1), 1717401600u);
  EXPECT_EQ(store_.configTimeNSecsMap.at(1), 250000000u);
  EXPECT_EQ(store_.configTimeSecsMap.size(), 5u);
  EXPECT_EQ(supply_.nodeRequests,
            (std::vector<std::string>{"TANKFARM", "PUMPSTN", "REACTOR", "COMPRESS", "UTILITY"}));

  // One source per ".AS"/".RS" variable, with the block's priorities.
  EXPECT_EQ(SourceNames(), ExpectedSourceNames(store_));
  EXPECT_EQ(Subconditions("Tank_Farm/T-101/TANKFARM_LIC101.A", "Level"),
            (std::vector<std::pair<std::string, DWORD>>{
                {"LoLo", 900}, {"Lo", 800}, {"Hi", 800}, {"HiHi", 900}, {"Normal", 1000}}));
  EXPECT_EQ(Subconditions("Tank_Farm/T-101/TANKFARM_LIC101.ROC", "RoC"),
            (std::vector<std::pair<std::string, DWORD>>{{"RoCU", 600}, {"RoCD", 600}}));
  EXPECT_EQ(Subconditions("Tank_Farm/T-103/Mixer_M-103/TANKFARM_M103_MTR.Bit", "Bit"),
            (std::vector<std::pair<std::string, DWORD>>{{"Bit", 600}}));
}

TEST_F(ConfigImport, PriorityCodesFromTheInitValue) {
  Write("ConfigurationSummary.xml", Summary({{"N", "1"}}));
  Write("ProducedData_1.xml",
        ProducedData("N", "1", "0",
                     AnalogBlock("SIX", "", "", "", "1,2,3,4,5,9") + AnalogBlock("NEG", "", "", "", "-1, 2,x,3abc,,06") +
                         AnalogBlock("THREE", "", "", "", "5,5,5,5,5,5") + DigitalBlock("ONE", "", "", "3") +
                         DigitalBlock("TWO", "", "", "4")));
  ASSERT_EQ(Import(store_, false), S_OK);
  EXPECT_EQ(Codes(Var("N.SIX.LP")), (std::vector<DWORD>{1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(Codes(Var("N.NEG.LP")), (std::vector<DWORD>{0, 2, 0, 3, 0, 0}));
  EXPECT_EQ(Codes(Var("N.ONE.LP"))[0], 3u);

  // Another count of parts leaves the codes as they were.
  Write("ProducedData_1.xml",
        ProducedData("N", "2", "0",
                     AnalogBlock("SIX", "", "", "", "") + AnalogBlock("THREE", "", "", "", "1,2,3") +
                         DigitalBlock("ONE", "", "", "1,2") + DigitalBlock("TWO", "", "", "")));
  ASSERT_EQ(Import(store_, true), S_OK);
  EXPECT_EQ(Codes(Var("N.SIX.LP")), (std::vector<DWORD>{1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(Codes(Var("N.THREE.LP")), (std::vector<DWORD>{5, 5, 5, 5, 5, 5}));
  EXPECT_EQ(Codes(Var("N.ONE.LP"))[0], 3u);
  EXPECT_EQ(Codes(Var("N.TWO.LP"))[0], 4u);
}

TEST_F(ConfigImport, ElementsOnlyForStateWordsOfTheirBlockType) {
  Write("ConfigurationSummary.xml", Summary({{"N", "1"}}));
  Write("ProducedData_1.xml", ProducedData("N", "1", "0", R"(<BlockStructure Name="D">
      <BlockSubElement Name="D.AS" BlockType="O0D"/>
      <BlockSubElement Name="D.RS" BlockType="O0D"/>
      <BlockSubElement Name="D.ST" BlockType="O0D"/>
      <BlockSubElement Name="D.PV" BlockType="O0A"/>
    </BlockStructure>)"));
  ASSERT_EQ(Import(store_, false), S_OK);
  EXPECT_NE(Var("N.D.AS[4]"), nullptr);
  EXPECT_NE(Var("N.D.RS"), nullptr);
  EXPECT_EQ(Var("N.D.RS[1]"), nullptr);
  EXPECT_NE(Var("N.D.ST"), nullptr);
  EXPECT_EQ(Var("N.D.PV"), nullptr);  // not an alarm block member
  EXPECT_EQ(store_.itemMap.size(), 7u);
  // A digital block's ".RS" member is no alarm of its own.
  EXPECT_EQ(SourceNames(), (std::set<std::string>{"N_D.Bit"}));
}

// The structure's Area and Message first; the embedded block's only when the
// structure gave neither, and then its selections overwrite both.
TEST_F(ConfigImport, AreaAndMessageLookUp) {
  Write("ConfigurationSummary.xml", Summary({{"N", "1"}}));
  Write("ProducedData_1.xml", ProducedData("N", "1", "0", R"(
    <BlockStructure Name="S"><BlockSubElement Name="S.AS" BlockType="O0C"/>
      <Area Data="Area S"/><Message Data="m" DataROC="r"/></BlockStructure>
    <BlockStructure Name="EQ">
      <BlockSubElement Name="EQ.X.AS" BlockType="O0C"/>
      <BlockSubElement Name="EQ.Y.AS" BlockType="O0C"/>
      <BlockSubElement Name="EQ.Y.RS" BlockType="O0C"/>
      <Area Data="equipment"/>
      <EmbeddedBlock Reference="EQ.X"><Area Data="X area"/><Message Data="x"/></EmbeddedBlock>
      <EmbeddedBlock Reference="EQ.Y"><Area Data="Y area"/><Message Data="y" DataROC="y roc"/></EmbeddedBlock>
    </BlockStructure>
    <BlockStructure Name="EQ.Y"><Message DataROC="structure roc"/></BlockStructure>
    <BlockStructure Name="EQ.Z"><BlockSubElement Name="EQ.Z.AS" BlockType="O0C"/><Area/></BlockStructure>
  )"));
  ASSERT_EQ(Import(store_, false), S_OK);
  EXPECT_EQ(Var("N.S.AS")->area, "Area_S");
  EXPECT_EQ(Var("N.S.AS")->message, "m");
  EXPECT_EQ(Var("N.EQ.X.AS")->area, "X_area");
  EXPECT_EQ(Var("N.EQ.X.AS")->message, "x");
  // For the level alarm the structure's DataROC counts for nothing.
  EXPECT_EQ(Var("N.EQ.Y.AS")->area, "Y_area");
  EXPECT_EQ(Var("N.EQ.Y.AS")->message, "y");
  // For the rate-of-change alarm it is found, so the embedded block is not asked.
  EXPECT_EQ(Var("N.EQ.Y.RS")->area, "");
  EXPECT_EQ(Var("N.EQ.Y.RS")->message, "");
  EXPECT_EQ(Var("N.EQ.Y.RS")->rocMessage, "structure roc");
  // An Area without Data is not found; no embedded block: empty.
  EXPECT_EQ(Var("N.EQ.Z.AS")->area, "");
  EXPECT_TRUE(SourceNames().count("N_EQ_Y.ROC"));
  EXPECT_TRUE(SourceNames().count("Y_area/N_EQ_Y.A"));
}

// Block names holding quotes and markup characters find their own Area and
// Message, and nothing else.
TEST_F(ConfigImport, BlockNamesWithQuotesAndMarkup) {
  const std::string names[] = {"O'NEIL", "SAY \"HI\"", "IT'S \"BOTH\"", "A&B<C>", "X']|//*[@Name='Y"};
  std::string blocks;
  for (size_t i = 0; i < std::size(names); ++i)
    blocks += AnalogBlock(names[i], "Area " + std::to_string(i), "message " + names[i], "roc " + std::to_string(i));
  blocks += AnalogBlock("Y", "Area Y", "message Y", "roc Y");
  Write("ConfigurationSummary.xml", Summary({{"N", "1"}}));
  Write("ProducedData_1.xml", ProducedData("N", "1", "0", blocks));
  ASSERT_EQ(Import(store_, false), S_OK);
  for (size_t i = 0; i < std::size(names); ++i) {
    const AlarmVar* v = Var("N." + names[i] + ".AS");
    ASSERT_NE(v, nullptr) << names[i];
    EXPECT_EQ(v->area, "Area_" + std::to_string(i)) << names[i];
    EXPECT_EQ(v->message, "message " + names[i]);
    EXPECT_EQ(Var("N." + names[i] + ".RS")->rocMessage, "roc " + std::to_string(i));
  }
  EXPECT_TRUE(SourceNames().count("Area_2/N_IT'S \"BOTH\".A"));
}

TEST_F(ConfigImport, FullImportAfterAnEmptySourceBuildNeedsNoInitialRead) {
  supply_.lastSourceBuildResult = kSourceBuildNoEntries;
  Write("ConfigurationSummary.xml", Summary({{"N", "1"}}));
  Write("ProducedData_1.xml", ProducedData("N", "1", "0", AnalogBlock("A", "", "", "")));
  ASSERT_EQ(Import(store_, false), S_OK);
  EXPECT_FALSE(Var("N.A.AS")->initialPending);
  EXPECT_FALSE(Var("N.A.LP")->initialPending);
  EXPECT_TRUE(Var("N.A.AS[1]")->initialPending);  // elements are not members
  EXPECT_TRUE(store_.pendingMap.empty());
}

class IncrementalImport : public ConfigImport {
 protected:
  void SetUp() override {
    ConfigImport::SetUp();
    Write("ConfigurationSummary.xml", Summary({{"N", "1"}, {"M", "2"}}));
    WriteNode(1, "100", AnalogBlock("A", "Area A", "a", "a roc") + DigitalBlock("B", "Area B", "b"));
    Write("ProducedData_2.xml", ProducedData("M", "7", "7", AnalogBlock("C", "Area C", "c", "c roc")));
    ASSERT_EQ(Import(store_, false), S_OK);
    supply_.nodeRequests.clear();
  }
  void WriteNode(int id, const std::string& secs, const std::string& blocks) {
    Write("ProducedData_" + std::to_string(id) + ".xml", ProducedData("N", secs, "0", blocks));
  }
};

TEST_F(IncrementalImport, UnchangedConfigurationTimesChangeNothing) {
  size_t items = store_.itemMap.size();
  std::set<std::string> sources = SourceNames();
  // Even a changed document is not read while its time stays.
  WriteNode(1, "100", AnalogBlock("A", "Elsewhere", "changed", ""));
  ASSERT_EQ(Import(store_, true), S_OK);
  EXPECT_TRUE(supply_.nodeRequests.empty());
  EXPECT_TRUE(store_.removedItems.empty());
  EXPECT_TRUE(store_.pendingMap.empty());
  EXPECT_EQ(store_.itemMap.size(), items);
  EXPECT_EQ(SourceNames(), sources);
  EXPECT_EQ(Var("N.A.AS")->area, "Area_A");
  for (const auto& [id, v] : store_.itemMap) EXPECT_FALSE(v.seenInImport) << id;
}

TEST_F(IncrementalImport, AChangedNanosecondTimeIsAChange) {
  Write("ProducedData_1.xml", ProducedData("N", "100", "1", AnalogBlock("A", "Area A", "new", "")));
  ASSERT_EQ(Import(store_, true), S_OK);
  EXPECT_EQ(supply_.nodeRequests, std::vector<std::string>{"N"});
  EXPECT_EQ(Var("N.A.AS")->message, "new");
  EXPECT_EQ(store_.configTimeNSecsMap.at(1), 1u);
}

TEST_F(IncrementalImport, BlockAdded) {
  WriteNode(1, "101",
            AnalogBlock("A", "Area A", "a", "a roc") + DigitalBlock("B", "Area B", "b") + AnalogBlock("D", "Area D", "d", ""));
  ASSERT_EQ(Import(store_, true), S_OK);
  EXPECT_EQ(supply_.nodeRequests, std::vector<std::string>{"N"});
  std::set<std::string> pending;
  for (const auto& [id, v] : store_.pendingMap) {
    pending.insert(id);
    EXPECT_FALSE(v->initialPending) << id;
    EXPECT_EQ(v, Var(id));
  }
  EXPECT_EQ(pending, (std::set<std::string>{"N.D.AS", "N.D.AS[1]", "N.D.AS[2]", "N.D.AS[3]", "N.D.AS[4]", "N.D.RS",
                                            "N.D.RS[1]", "N.D.RS[2]", "N.D.RS[3]", "N.D.RS[4]", "N.D.LP", "N.D.FC"}));
  EXPECT_TRUE(store_.removedItems.empty());
  EXPECT_TRUE(SourceNames().count("Area_D/N_D.A"));
  EXPECT_TRUE(SourceNames().count("Area_D/N_D.ROC"));
  EXPECT_EQ(SourceNames(), ExpectedSourceNames(store_));
}

TEST_F(IncrementalImport, BlockRemovedTakesItsItemsAndElementsAndSource) {
  CAESourcePtr bit = g_SourceCache.FindSource("Area_B/N_B.Bit");
  ASSERT_TRUE(bit);
  CAECondition* condition = bit->GetCondition("Bit");
  ASSERT_EQ(condition->Activate("Bit", "tripped", true, nullptr), S_OK);
  ASSERT_FALSE(condition->Acked());

  WriteNode(1, "101", AnalogBlock("A", "Area A", "a", "a roc"));
  ASSERT_EQ(Import(store_, true), S_OK);
  std::set<std::string> removed(store_.removedItems.begin(), store_.removedItems.end());
  EXPECT_EQ(removed, (std::set<std::string>{"N.B.AS", "N.B.AS[1]", "N.B.AS[2]", "N.B.AS[3]", "N.B.AS[4]", "N.B.LP",
                                            "N.B.FC"}));
  for (const std::string& id : removed) EXPECT_EQ(Var(id), nullptr) << id;
  EXPECT_NE(Var("N.A.AS"), nullptr);
  EXPECT_NE(Var("M.C.AS"), nullptr);
  // The withdrawn source's alarm is acknowledged as "Unknown User" and cleared.
  EXPECT_FALSE(g_SourceCache.GetSource("Area_B/N_B.Bit"));
  EXPECT_TRUE(condition->Acked());
  EXPECT_FALSE(condition->Active());
  EXPECT_EQ(condition->AcknowledgerID(), "Unknown User");
  EXPECT_EQ(static_cast<CDerivedSource*>(bit.Get())->Variable(), nullptr);
  EXPECT_EQ(SourceNames(), ExpectedSourceNames(store_));
}

TEST_F(IncrementalImport, AreaChangedWithdrawsTheOldSourceAndBuildsANewOne) {
  CAESourcePtr old = g_SourceCache.FindSource("Area_A/N_A.A");
  ASSERT_TRUE(old);
  CAECondition* level = old->GetCondition("Level");
  ASSERT_EQ(level->Activate("Hi", "high", true, nullptr), S_OK);
  ASSERT_EQ(level->Acknowledge("Alice", "seen", nullptr), S_OK);
  ASSERT_EQ(level->Activate("HiHi", "very high", true, nullptr), S_OK);

  WriteNode(1, "101", AnalogBlock("A", "Moved/Here", "a", "a roc") + DigitalBlock("B", "Area B", "b"));
  ASSERT_EQ(Import(store_, true), S_OK);
  EXPECT_EQ(Var("N.A.AS")->area, "Moved/Here");
  EXPECT_FALSE(g_SourceCache.GetSource("Area_A/N_A.A"));
  EXPECT_FALSE(g_SourceCache.GetSource("Area_A/N_A.ROC"));
  EXPECT_EQ(level->AcknowledgerID(), "Alice");
  EXPECT_TRUE(level->Acked());
  EXPECT_FALSE(level->Active());
  CAESourcePtr moved = g_SourceCache.FindSource("Moved/Here/N_A.A");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->Area(), "Moved/Here");
  EXPECT_FALSE(moved->GetCondition("Level")->Active());
  EXPECT_EQ(static_cast<CDerivedSource*>(moved.Get())->Variable(), Var("N.A.AS"));
  EXPECT_TRUE(store_.removedItems.empty());
  EXPECT_TRUE(store_.pendingMap.empty());  // same variables, new sources
  EXPECT_EQ(SourceNames(), ExpectedSourceNames(store_));
}

// Another block of the producer changes: an embedded block's source keeps
// its area, so it stays, with its alarm still active and unacknowledged.
TEST_F(IncrementalImport, AnEmbeddedBlocksActiveAlarmSurvivesAnotherBlocksChange) {
  const std::string pump = R"(
    <BlockStructure Name="P1"><Area Data="Pumps"/>
      <BlockSubElement Name="P1.MTR.AS" BlockType="O0D"/>
      <EmbeddedBlock Reference="P1.MTR"><Area Data="Pumps/P1"/><Message Data="motor %STATE"/></EmbeddedBlock>
    </BlockStructure>)";
  WriteNode(1, "101", AnalogBlock("A", "Area A", "a", "a roc") + pump);
  ASSERT_EQ(Import(store_, true), S_OK);
  CAESourcePtr motor = g_SourceCache.FindSource("Pumps/P1/N_P1_MTR.Bit");
  ASSERT_TRUE(motor);
  CAECondition* bit = motor->GetCondition("Bit");
  ASSERT_EQ(bit->Activate("Bit", "motor tripped", true, nullptr), S_OK);

  WriteNode(1, "102", AnalogBlock("A", "Area A", "a changed", "a roc") + pump);
  ASSERT_EQ(Import(store_, true), S_OK);
  EXPECT_EQ(Var("N.A.AS")->message, "a changed");
  EXPECT_EQ(g_SourceCache.FindSource("Pumps/P1/N_P1_MTR.Bit").Get(), motor.Get());
  EXPECT_TRUE(bit->Active());
  EXPECT_FALSE(bit->Acked());
  EXPECT_EQ(Var("N.P1.MTR.AS")->area, "Pumps/P1");
}

TEST_F(ConfigImport, GeneratedPlantEditsKeepSourcesAndVariablesInStep) {
  CTestVarStore& store = store_;
  ASSERT_TRUE(Plantgen("--producers 3 --blocks 60 --seed 11"));
  ASSERT_EQ(Import(store, false), S_OK);
  size_t before = store.itemMap.size();
  EXPECT_EQ(SourceNames(), ExpectedSourceNames(store));

  ASSERT_TRUE(Plantgen("--edit --producer 2 --add-blocks 5 --remove-blocks 4 --rename-areas 6 --seed 3"));
  ASSERT_EQ(Import(store, true), S_OK);
  EXPECT_FALSE(store.pendingMap.empty());
  EXPECT_FALSE(store.removedItems.empty());
  EXPECT_NE(store.itemMap.size(), before);
  EXPECT_EQ(SourceNames(), ExpectedSourceNames(store));
  for (const auto& [id, v] : store.pendingMap) EXPECT_EQ(v->nodeName, "PUMPSTN2") << id;
  for (const std::string& id : store.removedItems) EXPECT_EQ(id.rfind("PUMPSTN2.", 0), 0u) << id;
  for (const auto& [id, v] : store.itemMap) EXPECT_EQ(id, v.ItemId());
}

}  // namespace
