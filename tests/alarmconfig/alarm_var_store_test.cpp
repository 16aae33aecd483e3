// The variable store: the walk that hands out alarm entries three at a time,
// the priority codes it copies, and the sweep at the end of a node's import.
#include "alarmconfig/alarm_var_store.h"

#include <gtest/gtest.h>

#include <set>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/derived_source.h"
#include "import_fixture.h"
#include "platform/win32_error.h"
#include "toolkit/source_cache.h"

namespace {

AlarmVar& Add(CAlarmVarStore& store, const std::string& node, const std::string& item,
              const std::string& blockType = "O0C") {
  bool added = false;
  AlarmVar& v = store.FindOrAddVariable(MakeItemId(node, item), node, item, added).second;
  EXPECT_TRUE(added);
  v.blockType = blockType;
  return v;
}

TEST(AlarmVarStore, FindOrAddAddsOnce) {
  CTestVarStore store;
  bool added = false;
  auto& [id, v] = store.FindOrAddVariable("N.A.AS", "N", "A.AS", added);
  EXPECT_TRUE(added);
  EXPECT_EQ(id, "N.A.AS");
  EXPECT_EQ(v.ItemId(), "N.A.AS");
  EXPECT_TRUE(v.initialPending);
  EXPECT_FALSE(v.seenInImport);
  EXPECT_EQ(&store.FindOrAddVariable("N.A.AS", "N", "A.AS", added).second, &v);
  EXPECT_FALSE(added);
  EXPECT_EQ(store.FindVariable("N.A.AS"), &v);
  EXPECT_EQ(store.itemMap.size(), 1u);
}

TEST(AlarmVarStore, EntriesComeTwoPerCallOfThreeUntilTheMapIsDone) {
  CTestVarStore store;
  for (int i = 0; i < 5; ++i) {
    Add(store, "N", "L" + std::to_string(i) + ".AS");
    Add(store, "N", "L" + std::to_string(i) + ".FC");
    Add(store, "N", "L" + std::to_string(i) + ".AS[1]");
  }
  AlarmConditionEntry entries[3];
  ConditionEntryPosition position;
  std::set<std::string> seen;
  int calls = 0;
  bool done = false;
  while (!done) {
    size_t count = 99;
    entries[2].sourceName = "stale";
    ASSERT_EQ(store.GetConditionEntries(position, 3, entries, count, done), 0);
    ++calls;
    ASSERT_LE(count, 2u);
    EXPECT_TRUE(entries[count].sourceName.empty());  // the slot at count is never filled
    for (size_t i = 0; i < count; ++i) {
      EXPECT_EQ(entries[i].kind, kAlarmLevel);
      EXPECT_EQ(entries[i].nodeName, "N");
      ASSERT_NE(entries[i].variable, nullptr);
      EXPECT_EQ(entries[i].sourceName, "N_" + entries[i].variable->BlockName());
      EXPECT_TRUE(seen.insert(entries[i].variable->ItemId()).second);
    }
  }
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_GE(calls, 3);

  size_t count;
  EXPECT_EQ(store.GetConditionEntries(position, 1, entries, count, done), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(store.GetConditionEntries(position, 3, nullptr, count, done), ERROR_INVALID_PARAMETER);
}

TEST(AlarmVarStore, KindsAndPriorityCodesCopiedFromTheBlocksLp) {
  CTestVarStore store;
  AlarmVar& lp = Add(store, "N", "A.LP");
  const DWORD codes[] = {1, 2, 3, 4, 5, 3};
  std::copy(std::begin(codes), std::end(codes), lp.priorityCodes);
  AlarmVar& level = Add(store, "N", "A.AS");
  AlarmVar& roc = Add(store, "N", "A.RS");
  AlarmVar& dlp = Add(store, "N", "D.LP", "O0D");
  dlp.priorityCodes[0] = 4;
  AlarmVar& bit = Add(store, "N", "D.AS", "O0D");
  Add(store, "N", "D.RS", "O0D");  // a digital block has no rate-of-change alarm
  AlarmVar& orphan = Add(store, "N", "X.AS");
  orphan.priorityCodes[0] = 7;
  AlarmVar& other = Add(store, "M", "A.AS");

  AlarmConditionEntries entries;
  store.GetNodeConditionEntries("N", entries);
  ASSERT_EQ(entries.size(), 4u);
  std::map<std::string, AlarmKind> kinds;
  for (const auto& e : entries) kinds[e->variable->ItemId()] = e->kind;
  EXPECT_EQ(kinds, (std::map<std::string, AlarmKind>{
                       {"N.A.AS", kAlarmLevel}, {"N.A.RS", kAlarmRateOfChange}, {"N.D.AS", kAlarmBit}, {"N.X.AS", kAlarmLevel}}));
  EXPECT_EQ(std::vector<DWORD>(level.priorityCodes, level.priorityCodes + 6), (std::vector<DWORD>{1, 2, 3, 4, 0, 0}));
  EXPECT_EQ(std::vector<DWORD>(roc.priorityCodes, roc.priorityCodes + 6), (std::vector<DWORD>{0, 0, 0, 0, 3, 5}));
  EXPECT_EQ(std::vector<DWORD>(bit.priorityCodes, bit.priorityCodes + 6), (std::vector<DWORD>{4, 0, 0, 0, 0, 0}));
  EXPECT_EQ(orphan.priorityCodes[0], 7u);  // no ".LP": nothing copied
  EXPECT_EQ(other.priorityCodes[0], 0u);   // another node's block
}

TEST(AlarmVarStore, SweepKeepsWhatTheImportMetAndFreesTheRest) {
  CTestVarStore store;
  AlarmVar& kept = Add(store, "N", "K.AS");
  AlarmVar& gone = Add(store, "N", "G.AS");
  AlarmVar& otherNode = Add(store, "M", "G.AS");
  kept.seenInImport = true;
  store.handleMap[1] = &kept;
  store.reverseHandleMap[&kept] = 1;
  store.handleMap[2] = &gone;
  store.reverseHandleMap[&gone] = 2;
  store.pendingMap["N.G.AS"] = &gone;

  store.SweepNodeVariables("N");
  EXPECT_FALSE(kept.seenInImport);
  EXPECT_EQ(store.FindVariable("N.K.AS"), &kept);
  EXPECT_EQ(store.FindVariable("N.G.AS"), nullptr);
  EXPECT_EQ(store.FindVariable("M.G.AS"), &otherNode);
  EXPECT_EQ(store.removedItems, std::vector<std::string>{"N.G.AS"});
  EXPECT_EQ(store.handleMap.count(2), 0u);
  EXPECT_EQ(store.handleMap.count(1), 1u);
  EXPECT_EQ(store.reverseHandleMap.size(), 1u);
  EXPECT_TRUE(store.pendingMap.empty());
  AlarmConditionEntries entries;
  store.GetNodeConditionEntries("N", entries);  // the freed variable gives none
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->variable, &kept);

  store.SweepNodeVariables("N");  // nothing seen now
  EXPECT_EQ(store.FindVariable("N.K.AS"), nullptr);
  entries.clear();
  store.GetNodeConditionEntries("N", entries);
  EXPECT_TRUE(entries.empty());
  store.SweepNodeVariables("UNKNOWN");
  EXPECT_EQ(store.itemMap.size(), 1u);
}

TEST(AlarmVarStore, AVariableGivenToAnotherNodeIsSweptWithIt) {
  CTestVarStore store;
  AlarmVar& v = Add(store, "A", "B.X.AS");  // item id "A.B.X.AS" = node "A.B", item "X.AS"
  store.SetVariableNode(v, "A.B");
  v.itemName = "X.AS";
  EXPECT_EQ(v.ItemId(), "A.B.X.AS");
  store.SweepNodeVariables("A");
  EXPECT_EQ(store.FindVariable("A.B.X.AS"), &v);
  AlarmConditionEntries entries;
  store.GetNodeConditionEntries("A", entries);
  EXPECT_TRUE(entries.empty());
  store.GetNodeConditionEntries("A.B", entries);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->sourceName, "A.B_X");
  store.SweepNodeVariables("A.B");
  EXPECT_TRUE(store.itemMap.empty());

  // The other way: item "AS" of node "A.B" is no alarm member until the id
  // divides as node "A", item "B.AS".
  AlarmVar& w = Add(store, "A.B", "AS");
  entries.clear();
  store.GetNodeConditionEntries("A.B", entries);
  EXPECT_TRUE(entries.empty());
  store.SetVariableNode(w, "A");
  w.itemName = "B.AS";
  store.GetNodeConditionEntries("A", entries);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->variable, &w);
}

TEST(AlarmVarStore, TheStoresEndDetachesItsSources) {
  auto store = std::make_unique<CTestVarStore>();
  CStoreEntrySupply supply(*store);
  Add(*store, "N", "A.AS").seenInImport = true;
  ASSERT_EQ(BuildNodeSources("N"), 0);
  CAESourcePtr source = g_SourceCache.FindSource("N_A.A");
  ASSERT_TRUE(source);
  EXPECT_NE(static_cast<CDerivedSource*>(source.Get())->Variable(), nullptr);
  store.reset();
  EXPECT_EQ(static_cast<CDerivedSource*>(source.Get())->Variable(), nullptr);
  EXPECT_TRUE(g_SourceCache.GetSource("N_A.A"));  // the source itself stays
  g_SourceCache.Clear(1);
}

}  // namespace
