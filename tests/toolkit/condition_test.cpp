// Condition state machine: states, change masks, cookies, times, and which
// changes become events (seen through a subscription).
#include <gtest/gtest.h>

#include "toolkit_fixture.h"

namespace {

class ConditionTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    AddLevelSource("Plant/Unit1/TIC100.A");
    marker_ = AddLevelSource("Marker")->GetCondition("Level");
    server_ = Connect();
    sink_ = RecordingEventSink::Make();
    subscription_ = Subscribe(server_.Get(), sink_.Get());
    condition_ = Level("Plant/Unit1/TIC100.A");
  }
  void TearDown() override {
    subscription_.Reset();
    server_.Reset();
    ToolkitTest::TearDown();
  }

  // The events sent since the last call: a marker event closes the batch,
  // so "nothing sent" can be told from "not delivered yet".
  std::vector<ONEVENTSTRUCT> Sent() {
    markerQuality_ = markerQuality_ == 192 ? 0 : 192;
    marker_->Quality(markerQuality_);
    ++markers_;
    EXPECT_TRUE(sink_->WaitUntil([&] { return MarkersIn(sink_->EventsUnlocked()) == markers_; }));
    std::vector<ONEVENTSTRUCT> events;
    auto all = sink_->Events();
    for (size_t i = seen_; i < all.size(); ++i) {
      if (all[i].szSource != "Marker") events.push_back(all[i]);
    }
    seen_ = all.size();
    return events;
  }
  static size_t MarkersIn(const std::vector<ONEVENTSTRUCT>& events) {
    size_t n = 0;
    for (const auto& e : events) n += e.szSource == "Marker";
    return n;
  }

  CAECondition* condition_ = nullptr;
  CAECondition* marker_ = nullptr;
  WORD markerQuality_ = 192;
  size_t markers_ = 0;
  size_t seen_ = 0;
  ComPtr<IOPCEventServer> server_;
  ComPtr<RecordingEventSink> sink_;
  ComPtr<IOPCEventSubscriptionMgt> subscription_;
};

TEST_F(ConditionTest, ActivationEntersSubconditionAwaitingAcknowledgement) {
  FILETIME t1 = Time(1000);
  ASSERT_EQ(condition_->Activate("Hi", "TIC100 high", true, &t1), S_OK);

  EXPECT_TRUE(condition_->Active());
  EXPECT_FALSE(condition_->Acked());
  EXPECT_EQ(condition_->ActiveSubcondition(), "Hi");
  EXPECT_EQ(condition_->Severity(), 600u);
  EXPECT_EQ(condition_->Message(), "TIC100 high");
  EXPECT_EQ(condition_->SubconditionLastActiveTime(), t1);
  EXPECT_EQ(condition_->ConditionLastActiveTime(), t1);
  EXPECT_NE(condition_->Cookie(), 0u);

  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  const ONEVENTSTRUCT& e = events[0];
  EXPECT_EQ(e.wChangeMask, OPC_CHANGE_ACTIVE_STATE | OPC_CHANGE_SUBCONDITION | OPC_CHANGE_SEVERITY |
                               OPC_CHANGE_MESSAGE | OPC_CHANGE_ACK_STATE);
  EXPECT_EQ(e.wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
  EXPECT_EQ(e.szSource, "Plant/Unit1/TIC100.A");
  EXPECT_EQ(e.ftTime, t1);
  EXPECT_EQ(e.ftActiveTime, t1);
  EXPECT_EQ(e.szMessage, "TIC100 high");
  EXPECT_EQ(e.dwEventType, OPC_CONDITION_EVENT);
  EXPECT_EQ(e.dwEventCategory, kLevelCategory);
  EXPECT_EQ(e.dwSeverity, 600u);
  EXPECT_EQ(e.szConditionName, "Level");
  EXPECT_EQ(e.szSubconditionName, "Hi");
  EXPECT_EQ(e.wQuality, 192);
  EXPECT_TRUE(e.bAckRequired);
  EXPECT_EQ(e.dwCookie, condition_->Cookie());
  EXPECT_TRUE(e.szActorID.empty());
}

TEST_F(ConditionTest, UnknownSubconditionChangesNothing) {
  EXPECT_EQ(condition_->Activate("Lo", "m", true, nullptr), E_INVALIDARG);
  EXPECT_FALSE(condition_->Active());
  EXPECT_TRUE(condition_->Acked());
  EXPECT_EQ(condition_->Cookie(), 0u);
  EXPECT_EQ(condition_->ActiveSubcondition(), "");
  EXPECT_EQ(condition_->Severity(), 1u);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ConditionTest, ActivateSendsOnlyWhatChangedAndNewActivationsGetNewCookies) {
  FILETIME t1 = Time(1000), t2 = Time(2000), t3 = Time(3000);
  condition_->Activate("Hi", "m1", true, &t1);
  DWORD first = condition_->Cookie();
  Sent();

  condition_->Activate("Hi", "m1", true, &t1);
  EXPECT_TRUE(Sent().empty()) << "an Activate that changes nothing sends nothing";
  EXPECT_EQ(condition_->Cookie(), first);

  condition_->Activate("Hi", "m2", true, &t1);
  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_MESSAGE);
  EXPECT_EQ(condition_->Cookie(), first) << "same activation";

  condition_->Acknowledge("op", "", nullptr);
  Sent();
  condition_->Activate("Hi", "m2", true, &t2);
  events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_SUBCONDITION | OPC_CHANGE_ACK_STATE);
  EXPECT_TRUE(events[0].bAckRequired) << "a re-activation must be acknowledged again";
  EXPECT_NE(condition_->Cookie(), first);
  EXPECT_EQ(condition_->ConditionLastActiveTime(), t1) << "the condition stayed active";
  EXPECT_EQ(condition_->SubconditionLastActiveTime(), t2);

  DWORD second = condition_->Cookie();
  condition_->Activate("HiHi", "m2", true, &t3);
  events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_SUBCONDITION | OPC_CHANGE_SEVERITY);
  EXPECT_EQ(events[0].dwSeverity, 900u);
  EXPECT_EQ(events[0].ftActiveTime, t3);
  EXPECT_NE(condition_->Cookie(), second);
}

TEST_F(ConditionTest, ReturnToNormalWithAcknowledgementStillRequired) {
  FILETIME t1 = Time(1000), t2 = Time(5000);
  condition_->Activate("Hi", "high", true, &t1);
  DWORD cookie = condition_->Cookie();
  Sent();

  ASSERT_EQ(condition_->Deactivate("normal", true, &t2), S_OK);
  EXPECT_FALSE(condition_->Active());
  EXPECT_FALSE(condition_->Acked());
  EXPECT_EQ(condition_->ActiveSubcondition(), "Hi") << "kept to name what returned to normal";
  EXPECT_EQ(condition_->ConditionLastInactiveTime(), t2);
  EXPECT_EQ(condition_->Cookie(), cookie);

  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_ACTIVE_STATE | OPC_CHANGE_MESSAGE);
  EXPECT_EQ(events[0].wNewState, OPC_CONDITION_ENABLED);
  EXPECT_TRUE(events[0].bAckRequired);
  EXPECT_EQ(events[0].ftTime, t2);
  EXPECT_EQ(events[0].ftActiveTime, t1);

  condition_->Deactivate("normal", true, &t2);
  EXPECT_TRUE(Sent().empty());

  ASSERT_EQ(condition_->Acknowledge("op", "seen", nullptr), S_OK);
  events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACKED);
}

TEST_F(ConditionTest, ReturnToNormalWithoutAcknowledgementLeavesNothingAwaiting) {
  FILETIME t1 = Time(1000);
  condition_->Activate("Hi", "high", true, &t1);
  Sent();
  condition_->Deactivate("high", false, nullptr);
  EXPECT_TRUE(condition_->Acked());
  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_ACTIVE_STATE | OPC_CHANGE_ACK_STATE);
  EXPECT_EQ(events[0].wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACKED);
  EXPECT_FALSE(events[0].bAckRequired);
  EXPECT_EQ(condition_->Acknowledge("op", "", nullptr), OPC_S_ALREADYACKED);
}

TEST_F(ConditionTest, AcknowledgeRecordsActorOnceOnly) {
  FILETIME t1 = Time(1000), tAck = Time(1500);
  condition_->Activate("HiHi", "very high", true, &t1);
  Sent();
  ASSERT_EQ(condition_->Acknowledge("operator1", "on it", &tAck), S_OK);
  EXPECT_TRUE(condition_->Acked());
  EXPECT_TRUE(condition_->Active());
  EXPECT_EQ(condition_->AcknowledgerID(), "operator1");
  EXPECT_EQ(condition_->Comment(), "on it");
  EXPECT_EQ(condition_->LastAckTime(), tAck);
  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_ACK_STATE);
  EXPECT_EQ(events[0].wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE | OPC_CONDITION_ACKED);
  EXPECT_EQ(events[0].szActorID, "operator1");
  EXPECT_EQ(events[0].ftTime, tAck);
  EXPECT_FALSE(events[0].bAckRequired);

  EXPECT_EQ(condition_->Acknowledge("operator2", "again", nullptr), OPC_S_ALREADYACKED);
  EXPECT_EQ(condition_->AcknowledgerID(), "operator1");
  EXPECT_EQ(condition_->Comment(), "on it");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ConditionTest, NullTimeMeansNow) {
  FILETIME before = GetSystemTimeAsFileTime();
  condition_->Activate("Hi", "m", true, nullptr);
  condition_->Acknowledge("op", "", nullptr);
  FILETIME after = GetSystemTimeAsFileTime();
  for (FILETIME t : {condition_->SubconditionLastActiveTime(), condition_->ConditionLastActiveTime(),
                     condition_->LastAckTime()}) {
    EXPECT_GE(FileTimeToUint64(t), FileTimeToUint64(before));
    EXPECT_LE(FileTimeToUint64(t), FileTimeToUint64(after));
  }
}

TEST_F(ConditionTest, QualityChangeIsAnEventOfItsOwn) {
  EXPECT_EQ(condition_->Quality(), 192);
  ASSERT_EQ(condition_->Quality(WORD{0x18}), S_OK);
  EXPECT_EQ(condition_->Quality(), 0x18);
  condition_->Quality(WORD{0x18});
  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_QUALITY);
  EXPECT_EQ(events[0].wQuality, 0x18);
}

TEST_F(ConditionTest, DisabledConditionKeepsStateButSendsNothing) {
  auto* source = new CAESource("Quiet.A", 1);
  CAECondition prototype(source, "Level", kLevelCategory, false);
  prototype.AddSubcondition(CAESubcondition("Hi", "", 500, ""));
  CAECondition* quiet = source->AddCondition(prototype);
  ASSERT_NE(g_SourceCache.AddSource(source), 0);

  quiet->Activate("Hi", "m", true, nullptr);
  EXPECT_TRUE(quiet->Active());
  EXPECT_FALSE(quiet->Enabled());
  EXPECT_TRUE(Sent().empty());

  ASSERT_EQ(quiet->SetEnabled(true), S_OK);
  auto events = Sent();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].wChangeMask, OPC_CHANGE_ENABLE_STATE);
  EXPECT_EQ(events[0].wNewState, OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE);
}

TEST_F(ConditionTest, ConditionsAndSubconditionsAreCopiedAndUniqueByName) {
  CAESource* source = g_SourceCache.GetSource("Plant/Unit1/TIC100.A");
  CAECondition duplicate(source, "Level", kLevelCategory);
  EXPECT_EQ(source->AddCondition(duplicate), nullptr);
  EXPECT_EQ(source->NumberOfConditions(), 1);
  EXPECT_EQ(source->GetCondition("Bit"), nullptr);
  EXPECT_EQ(source->GetConditionAt(1), nullptr);
  EXPECT_EQ(condition_->Parent(), source);

  EXPECT_EQ(condition_->AddSubcondition(CAESubcondition("Hi", "", 1, "")), nullptr);
  EXPECT_EQ(condition_->NumberOfSubconditions(), 2);
  EXPECT_EQ(condition_->GetSubcondition("Lo"), nullptr);
  EXPECT_EQ(condition_->GetSubconditionAt(1)->Name(), "HiHi");
  EXPECT_EQ(condition_->GetSubcondition("HiHi")->Severity(), 900u);
}

TEST_F(ConditionTest, ConditionWithoutSourceRefusesChanges) {
  CAECondition orphan(nullptr, "Level", kLevelCategory);
  orphan.AddSubcondition(CAESubcondition("Hi", "", 500, ""));
  EXPECT_EQ(orphan.Activate("Hi", "", true, nullptr), E_UNEXPECTED);
  EXPECT_EQ(orphan.Deactivate("", false, nullptr), E_UNEXPECTED);
  EXPECT_EQ(orphan.Acknowledge("op", "", nullptr), E_UNEXPECTED);
  EXPECT_FALSE(orphan.Active());
}

}  // namespace
