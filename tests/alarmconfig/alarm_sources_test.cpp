// The source builder with entries handed over as a connection manager would:
// what each kind of entry becomes, how existing sources are refreshed and
// withdrawn, and the lock and quality operations over the cache.
#include "alarmconfig/alarm_sources.h"

#include <gtest/gtest.h>

#include <set>

#include <cstring>
#include <set>
#include <thread>

#include "alarmconfig/alarm_entry_supply.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/resource_string_table.h"
#include "alarmconfig/source_name.h"
#include "toolkit/condition.h"
#include "toolkit/source_cache.h"

namespace {

// Hands out copies of a prepared list; `result` nonzero refuses.
class CListSupply : public CAlarmEntrySupply {
 public:
  CListSupply() : previous_(g_pAlarmEntrySupply.exchange(this)) {}
  ~CListSupply() { g_pAlarmEntrySupply.store(previous_); }

  int32_t GetConditionEntries(const std::string& name, AlarmConditionEntries& entries) override {
    names.push_back(name);
    return Copy(entries);
  }
  int32_t GetNodeConditionEntries(const std::string& node, AlarmConditionEntries& entries) override {
    names.push_back(node);
    return Copy(entries);
  }
  SourceBuildResult LastSourceBuildResult() const override { return kSourceBuildNotRun; }

  std::vector<std::unique_ptr<AlarmConditionEntry>> list;
  std::vector<std::string> names;
  int32_t result = 0;

 private:
  int32_t Copy(AlarmConditionEntries& entries) {
    for (const auto& e : list) entries.push_back(e ? std::make_unique<AlarmConditionEntry>(*e) : nullptr);
    return result;
  }
  CAlarmEntrySupply* previous_;
};

class AlarmSources : public testing::Test {
 protected:
  void SetUp() override {
    CResourceStringTable strings;
    ASSERT_TRUE(strings.Load(AE_STRINGS_XML));
    previousStrings_ = strings.Install();
  }
  void TearDown() override {
    g_SourceCache.Clear(1);
    SetResourceStringProvider(std::move(previousStrings_));
  }

  // An entry for `variable` as the client fills it.
  AlarmConditionEntry* Add(AlarmVar& variable, AlarmKind kind) {
    auto entry = std::make_unique<AlarmConditionEntry>();
    entry->kind = kind;
    entry->sourceName = SourceBaseName(variable);
    entry->nodeName = variable.nodeName;
    entry->variable = &variable;
    supply_.list.push_back(std::move(entry));
    return supply_.list.back().get();
  }
  static AlarmVar Variable(const std::string& node, const std::string& item, const std::string& area = "") {
    AlarmVar v;
    v.nodeName = node;
    v.itemName = item;
    v.area = area;
    v.blockType = "O0C";
    return v;
  }
  static CDerivedSource* Derived(const std::string& name) {
    return dynamic_cast<CDerivedSource*>(g_SourceCache.GetSource(name));
  }

  CListSupply supply_;
  ResourceStringProvider previousStrings_;
};

TEST(SeverityFromPriority, CodesOneToFiveElseTheHighest) {
  const DWORD expected[] = {1000, 900, 800, 600, 400, 200, 1000, 1000};
  for (DWORD code = 0; code < std::size(expected); ++code) EXPECT_EQ(SeverityFromPriority(code), expected[code]);
  EXPECT_EQ(SeverityFromPriority(0xFFFFFFFF), 1000u);
}

TEST(SourceName, AreaNodeAndBlockWithDotsReplaced) {
  AlarmVar v;
  v.nodeName = "TANKFARM";
  v.itemName = "M103.II.AS[2]";
  EXPECT_EQ(v.BlockName(), "M103.II");
  EXPECT_EQ(SourceBaseName(v), "TANKFARM_M103_II");
  v.area = "Tank_Farm/T-103";
  EXPECT_EQ(BuildSourceName(SourceBaseName(v), kAlarmLevel), "Tank_Farm/T-103/TANKFARM_M103_II.A");
  EXPECT_EQ(BuildSourceName("N_B", kAlarmRateOfChange), "N_B.ROC");
  EXPECT_EQ(BuildSourceName("N_B", kAlarmBit), "N_B.Bit");
  EXPECT_EQ(SourceBaseName("", "N.X", "B.C"), "N.X_B_C");  // only the block's dots
}

TEST_F(AlarmSources, EachKindGetsItsConditionSubconditionsAndSlots) {
  AlarmVar level = Variable("N", "L.AS", "Plant/Unit");
  const DWORD codes[] = {1, 2, 3, 4, 5, 0};
  std::copy(std::begin(codes), std::end(codes), level.priorityCodes);
  AlarmConditionEntry* e = Add(level, kAlarmLevel);
  std::memcpy(e->limits[0].text, "LL", 2);
  std::memcpy(e->limits[1].text, "L", 1);
  std::memcpy(e->limits[3].text, "ABCDE", 5);  // all five bytes, no terminator
  AlarmVar roc = Variable("N", "R.RS");
  roc.priorityCodes[4] = 5;
  roc.priorityCodes[5] = 1;
  Add(roc, kAlarmRateOfChange)->headerValue3 = 77;
  AlarmVar bit = Variable("N", "B.AS");
  bit.priorityCodes[0] = 3;
  Add(bit, kAlarmBit);

  ASSERT_EQ(BuildSourcesForVariable("Brixham.RaltoOPC"), 0);
  EXPECT_EQ(supply_.names, std::vector<std::string>{"Brixham.RaltoOPC"});
  ASSERT_EQ(g_SourceCache.NumberOfSources(), 3);

  CDerivedSource* l = Derived("Plant/Unit/N_L.A");
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->Area(), "Plant/Unit");
  EXPECT_EQ(l->AttributeIds(), (std::vector<DWORD>{0, 1}));
  EXPECT_EQ(l->Variable(), &level);
  ASSERT_EQ(l->NumberOfConditions(), 1);
  CAECondition* c = l->GetCondition("Level");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->CategoryId(), 1u);
  EXPECT_TRUE(c->Enabled());
  EXPECT_EQ(c->Quality(), 192);
  const char* names[] = {"LoLo", "Lo", "Hi", "HiHi", "Normal"};
  const DWORD severities[] = {900, 800, 600, 400, 200};
  const char* descriptions[] = {"LL", "L", "", "ABCDE", ""};
  ASSERT_EQ(c->NumberOfSubconditions(), 5);
  for (int i = 0; i < 5; ++i) {
    CAESubcondition* s = c->GetSubconditionAt(i);
    EXPECT_EQ(s->Name(), names[i]);
    EXPECT_EQ(s->Definition(), "NOT IMPL");
    EXPECT_EQ(s->Severity(), severities[i]);
    EXPECT_EQ(s->Description(), descriptions[i]);
  }

  CDerivedSource* r = Derived("N_R.ROC");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->AttributeIds(), (std::vector<DWORD>{4, 5}));
  EXPECT_EQ(r->HeaderValue3(), 77u);
  CAECondition* rc = r->GetCondition("RoC");
  ASSERT_NE(rc, nullptr);
  EXPECT_EQ(rc->CategoryId(), 4u);
  ASSERT_EQ(rc->NumberOfSubconditions(), 2);
  EXPECT_EQ(rc->GetSubconditionAt(0)->Name(), "RoCU");
  EXPECT_EQ(rc->GetSubconditionAt(0)->Severity(), 200u);
  EXPECT_EQ(rc->GetSubconditionAt(1)->Name(), "RoCD");
  EXPECT_EQ(rc->GetSubconditionAt(1)->Severity(), 900u);

  CDerivedSource* b = Derived("N_B.Bit");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->AttributeIds(), (std::vector<DWORD>{2, 3}));
  CAECondition* bc = b->GetCondition("Bit");
  ASSERT_NE(bc, nullptr);
  EXPECT_EQ(bc->CategoryId(), 3u);
  ASSERT_EQ(bc->NumberOfSubconditions(), 1);
  EXPECT_EQ(bc->GetSubconditionAt(0)->Severity(), 600u);
}

TEST_F(AlarmSources, KindsWithoutAConditionGetABareSource) {
  AlarmVar v[3] = {Variable("N", "F.AS"), Variable("N", "P.AS"), Variable("N", "W.AS")};
  Add(v[0], kAlarmFixedDeviation);
  Add(v[1], kAlarmPercentDeviation);
  Add(v[2], kAlarmWord);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  for (const char* name : {"N_F.Fixed Deviation", "N_P.Percent Deviation", "N_W.Word"}) {
    CDerivedSource* s = Derived(name);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->NumberOfConditions(), 0);
    EXPECT_TRUE(s->AttributeIds().empty());
    VARIANT value;
    EXPECT_FALSE(s->SetAttributeValue(0, VARIANT::Bstr("x")));
    EXPECT_FALSE(s->GetAttributeValue(0, value));
  }
}

TEST_F(AlarmSources, NoEntriesOrAMissingFirstEntryBuildNothing) {
  EXPECT_EQ(BuildSourcesForVariable("S"), 2);
  EXPECT_EQ(BuildNodeSources("N"), 2);
  AlarmVar v = Variable("N", "A.AS");
  v.seenInImport = true;
  supply_.list.push_back(nullptr);
  Add(v, kAlarmLevel);
  EXPECT_EQ(BuildSourcesForVariable("S"), 2);
  EXPECT_EQ(BuildNodeSources("N"), 2);
  EXPECT_EQ(g_SourceCache.NumberOfSources(), 0);
  // A missing entry later in the list is passed over.
  std::swap(supply_.list[0], supply_.list[1]);
  EXPECT_EQ(BuildSourcesForVariable("S"), 0);
  EXPECT_EQ(g_SourceCache.NumberOfSources(), 1);
}

TEST_F(AlarmSources, ASupplyThatFailsOrNoneAtAll) {
  supply_.result = 29;
  EXPECT_EQ(BuildSourcesForVariable("S"), 4);
  EXPECT_EQ(BuildNodeSources("N"), 4);
  CAlarmEntrySupply* self = g_pAlarmEntrySupply.exchange(nullptr);
  EXPECT_EQ(BuildSourcesForVariable("S"), 4);
  EXPECT_EQ(BuildNodeSources("N"), E_POINTER);
  g_pAlarmEntrySupply.store(self);
}

// The tools print these: each result has a text of its own.
TEST(SourceBuildResultText, TellsEveryResultApart) {
  std::set<std::string> texts;
  for (SourceBuildResult result : {kSourceBuildOk, kSourceBuildNotRun, kSourceBuildNoEntries,
                                   kSourceBuildSupplyFailed, kSourceBuildNoSupply})
    texts.insert(SourceBuildResultText(result));
  EXPECT_EQ(texts.size(), 5u);
  EXPECT_STREQ(SourceBuildResultText(kSourceBuildNoEntries), "no alarm sources");
  EXPECT_STREQ(SourceBuildResultText(static_cast<SourceBuildResult>(3)), "unknown result");
}

TEST_F(AlarmSources, ASecondBuildResetsTheSourcesItFinds) {
  AlarmVar first = Variable("N", "A.AS");
  AlarmConditionEntry* e = Add(first, kAlarmLevel);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  CAESourcePtr source = g_SourceCache.FindSource("N_A.A");
  CAECondition* level = source->GetCondition("Level");
  ASSERT_EQ(level->Activate("Hi", "high", true, nullptr), S_OK);
  ASSERT_EQ(level->Quality(0), S_OK);

  // The next connection's client has its own variables.
  AlarmVar second = first;
  e->variable = &second;
  e->headerValue3 = 5;
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  EXPECT_EQ(g_SourceCache.NumberOfSources(), 1);
  EXPECT_EQ(g_SourceCache.GetSource("N_A.A"), source.Get());
  EXPECT_FALSE(level->Active());
  EXPECT_EQ(level->Quality(), 192);
  EXPECT_EQ(level->Message(), "");
  auto* derived = static_cast<CDerivedSource*>(source.Get());
  EXPECT_EQ(derived->Variable(), &second);
  EXPECT_EQ(derived->HeaderValue3(), 5u);
}

// Blocks removed or moved to another area while the server was away: the
// fresh connection's build withdraws their old sources (acknowledged,
// returned to normal, out of the cache); another class's source stays.
TEST_F(AlarmSources, AFreshBuildWithdrawsTheSourcesItsEntriesNoLongerName) {
  AlarmVar kept = Variable("N", "K.AS");
  AlarmVar removed = Variable("N", "R.AS");
  AlarmVar moved = Variable("N", "M.AS", "Old");
  Add(kept, kAlarmLevel);
  Add(removed, kAlarmLevel);
  AlarmConditionEntry* movedEntry = Add(moved, kAlarmLevel);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  CAESourcePtr gone = g_SourceCache.FindSource("N_R.A");
  ASSERT_TRUE(gone);
  CAECondition* alarm = gone->GetCondition("Level");
  ASSERT_EQ(alarm->Activate("Hi", "high", true, nullptr), S_OK);
  auto* foreign = new CAESource("Foreign.Source", 0);
  ASSERT_NE(g_SourceCache.AddSource(foreign), 0);

  supply_.list.erase(supply_.list.begin() + 1);
  moved.area = "New";
  movedEntry->sourceName = SourceBaseName(moved);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  std::set<std::string> names;
  for (int i = 0; i < g_SourceCache.NumberOfSources(); ++i) names.insert(g_SourceCache.GetSourceAt(i)->Name());
  EXPECT_EQ(names, (std::set<std::string>{"N_K.A", "New/N_M.A", "Foreign.Source"}));
  EXPECT_FALSE(alarm->Active());
  EXPECT_TRUE(alarm->Acked());
  EXPECT_EQ(static_cast<CDerivedSource*>(gone.Get())->Variable(), nullptr);
}

TEST_F(AlarmSources, NodeBuildCreatesSeenAndWithdrawsUnseenOfItsNodeOnly) {
  AlarmVar kept = Variable("N", "K.AS");
  AlarmVar gone = Variable("N", "G.AS");
  AlarmVar other = Variable("M", "O.AS");
  kept.seenInImport = gone.seenInImport = other.seenInImport = true;
  Add(kept, kAlarmLevel);
  Add(gone, kAlarmLevel);
  Add(other, kAlarmLevel);
  ASSERT_EQ(BuildNodeSources("N"), 0);
  EXPECT_TRUE(g_SourceCache.GetSource("N_K.A"));
  EXPECT_TRUE(g_SourceCache.GetSource("N_G.A"));
  EXPECT_FALSE(g_SourceCache.GetSource("M_O.A"));

  CAESourcePtr source = g_SourceCache.FindSource("N_G.A");
  CAECondition* condition = source->GetCondition("Level");
  ASSERT_EQ(condition->Activate("Lo", "low", true, nullptr), S_OK);
  gone.seenInImport = false;
  other.seenInImport = false;
  ASSERT_EQ(BuildNodeSources("N"), 0);
  EXPECT_TRUE(g_SourceCache.GetSource("N_K.A"));
  EXPECT_FALSE(g_SourceCache.GetSource("N_G.A"));
  EXPECT_EQ(condition->AcknowledgerID(), "Unknown User");
  EXPECT_TRUE(condition->Acked());
  EXPECT_FALSE(condition->Active());
  auto* derived = static_cast<CDerivedSource*>(source.Get());
  EXPECT_FALSE(derived->AckInProgress());
  EXPECT_EQ(derived->Variable(), nullptr);
}

TEST_F(AlarmSources, WithdrawAreaSourceUsesTheKindsSuffix) {
  AlarmVar v = Variable("N", "A.RS", "Old");
  Add(v, kAlarmRateOfChange);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  EXPECT_EQ(WithdrawAreaSource("Old/N_A", "Old", kAlarmLevel), 0);  // "Old/N_A.A": none
  EXPECT_TRUE(g_SourceCache.GetSource("Old/N_A.ROC"));
  EXPECT_EQ(WithdrawAreaSource("Old/N_A", "Old", kAlarmRateOfChange), 0);
  EXPECT_FALSE(g_SourceCache.GetSource("Old/N_A.ROC"));
  EXPECT_EQ(WithdrawAreaSource("Old/N_A", "Old", kAlarmRateOfChange), 0);
}

TEST_F(AlarmSources, SetQualityForSourcesBySubstring) {
  AlarmVar a = Variable("NODE1", "A.AS");
  AlarmVar b = Variable("NODE2", "B.AS");
  Add(a, kAlarmLevel);
  Add(b, kAlarmLevel);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  SetQualityForSources("NODE1", 0);
  EXPECT_EQ(g_SourceCache.GetSource("NODE1_A.A")->GetCondition("Level")->Quality(), 0);
  EXPECT_EQ(g_SourceCache.GetSource("NODE2_B.A")->GetCondition("Level")->Quality(), 192);
  SetQualityForSources("node2", 0);  // case matters
  EXPECT_EQ(g_SourceCache.GetSource("NODE2_B.A")->GetCondition("Level")->Quality(), 192);
  SetQualityForSources("", 24);
  EXPECT_EQ(g_SourceCache.GetSource("NODE2_B.A")->GetCondition("Level")->Quality(), 24);
}

TEST_F(AlarmSources, DetachingVariablesLeavesOthersAlone) {
  AlarmVar a = Variable("N", "A.AS");
  AlarmVar b = Variable("N", "B.AS");
  Add(a, kAlarmLevel);
  Add(b, kAlarmLevel);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  DetachSourcesFromVariables({&a});
  EXPECT_EQ(Derived("N_A.A")->Variable(), nullptr);
  EXPECT_EQ(Derived("N_B.A")->Variable(), &b);
}

TEST_F(AlarmSources, AttributeSlotsAndSharedStateFromAnyThread) {
  AlarmVar v = Variable("N", "A.AS");
  Add(v, kAlarmBit);
  ASSERT_EQ(BuildSourcesForVariable("S"), 0);
  CDerivedSource* s = Derived("N_A.Bit");
  ASSERT_NE(s, nullptr);
  std::thread writer([s] {
    for (int i = 0; i < 1000; ++i) {
      s->SetAttributeValue(3, VARIANT::Bstr("Operator " + std::to_string(i)));
      s->SetStateFlags(static_cast<BYTE>(i));
      s->SetLastActiveTime(Uint64ToFileTime(i));
    }
  });
  VARIANT value;
  for (int i = 0; i < 1000; ++i) {
    s->GetAttributeValue(3, value);
    s->StateFlags();
    s->LastActiveTime();
  }
  writer.join();
  ASSERT_TRUE(s->GetAttributeValue(3, value));
  EXPECT_EQ(value.bstrVal, "Operator 999");
  EXPECT_TRUE(s->GetAttributeValue(2, value));
  EXPECT_EQ(value.vt, VT_EMPTY);
  EXPECT_FALSE(s->GetAttributeValue(0, value));
  EXPECT_EQ(s->StateFlags(), static_cast<BYTE>(999));
  EXPECT_EQ(FileTimeToUint64(s->LastActiveTime()), 999u);
}

}  // namespace
