// The controller's alarm states applied to the alarm sources' conditions,
// with the controller's times.
#include <gtest/gtest.h>

#include "alarmconfig/derived_source.h"
#include "alarmconfig/tracked_mutex.h"
#include "alarmproc/condition_updater.h"
#include "alarmproc_fixture.h"
#include "platform/utf.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kLevel[] = "Plant/Tanks/N1_LIC1.A";
constexpr char kRate[] = "Plant/Tanks/N1_LIC1.ROC";
constexpr char kBit[] = "Plant/Tanks/N1_LS2.Bit";

class ConditionUpdaterTest : public AlarmProcTest {
 protected:
  void SetUp() override {
    AlarmProcTest::SetUp();
    if (HasFatalFailure()) return;
    ConnectPlant();
    syncIO_ = SyncIO();
    ASSERT_TRUE(syncIO_);
  }

  // One variable's handling in a pass: read, then apply.
  CConditionUpdater::Result Handle(const std::string& itemId, CAlarmDumpFile* dump = nullptr, size_t listSize = 1) {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    CAlarmStateReader reader = Reader(syncIO_.Get());
    AlarmEvent event;
    bool completed = false;
    EXPECT_EQ(reader.ReadAlarmEvent(Variable(itemId), event, completed, dump), 0) << itemId;
    return CConditionUpdater(reader, dump).Apply(Variable(itemId), event, completed, listSize, emptySources_);
  }
  CDerivedSource* Derived(const char* name) {
    return dynamic_cast<CDerivedSource*>(g_SourceCache.GetSource(name));
  }
  // A client's acknowledgement of what it was shown.
  HRESULT ClientAck(CAECondition* c, const std::string& who) {
    return c->AcknowledgeByClient(who, "seen", c->SubconditionLastActiveTime(), c->Cookie());
  }

  ComPtr<IOPCSyncIO> syncIO_;
  size_t emptySources_ = 0;
};

TEST_F(ConditionUpdaterTest, AnUnacknowledgedHiHiActivatesTheLevelCondition) {
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5), FILETIME(), FILETIME(), 0x21);
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  CAECondition* level = Condition(kLevel, "Level");
  ASSERT_NE(level, nullptr);
  EXPECT_TRUE(level->Active());
  EXPECT_FALSE(level->Acked());
  EXPECT_EQ(level->ActiveSubcondition(), "HiHi");
  EXPECT_EQ(level->Message(), "Level 50.00 % HiHi, then %val %state");
  EXPECT_EQ(level->SubconditionLastActiveTime(), PlantTime(5));
  CDerivedSource* source = Derived(kLevel);
  EXPECT_EQ(source->LastActiveTime(), PlantTime(5));
  EXPECT_EQ(source->StateFlags(), 0x21);
  EXPECT_FALSE(source->AckInProgress());
  EXPECT_FALSE(Variable("N1.LIC1.AS").initialPending);
  // The vendor attributes: empty texts of their declared type.
  for (DWORD id : {0u, 1u}) {
    VARIANT value;
    ASSERT_TRUE(source->GetAttributeValue(id, value));
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(value.bstrVal, "");
  }
}

TEST_F(ConditionUpdaterTest, AcknowledgedByTheControllerWithItsTime) {
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  // Acknowledged at the controller while it went down to Hi: no client had
  // acknowledged, so HiHi stays and takes the controller's time.
  SetAlarm("N1.LIC1.AS", 3, true, PlantTime(5), PlantTime(8));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  CAECondition* level = Condition(kLevel, "Level");
  EXPECT_TRUE(level->Active());
  EXPECT_TRUE(level->Acked());
  EXPECT_EQ(level->ActiveSubcondition(), "HiHi");
  EXPECT_EQ(level->LastAckTime(), PlantTime(8));
  EXPECT_EQ(level->AcknowledgerID(), "Unknown User");
  EXPECT_FALSE(Derived(kLevel)->AckInProgress());
}

TEST_F(ConditionUpdaterTest, AClientAcknowledgedSubconditionIsReArmed) {
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  CAECondition* level = Condition(kLevel, "Level");
  ASSERT_EQ(ClientAck(level, "operator"), S_OK);
  FILETIME clientAck = level->LastAckTime();
  DWORD cookie = level->Cookie();

  SetAlarm("N1.LIC1.AS", 3, true, PlantTime(6), PlantTime(7));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  EXPECT_TRUE(level->Active());
  EXPECT_EQ(level->ActiveSubcondition(), "Hi");
  EXPECT_NE(level->Cookie(), cookie);
  EXPECT_EQ(level->SubconditionLastActiveTime(), PlantTime(6));
  EXPECT_TRUE(level->Acked());
  EXPECT_EQ(level->LastAckTime(), clientAck);
  EXPECT_EQ(level->AcknowledgerID(), "operator");
}

// A controller that recorded no activation time: the condition takes
// "now", and the source holds that same time, so a client's acknowledgement
// matches it and a second reading of the same word is no new alarm.
TEST_F(ConditionUpdaterTest, AnActivationWithoutTimeHoldsTheTimeTheConditionRecorded) {
  SetAlarm("N1.LIC1.AS", 4, false, FILETIME());
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  CAECondition* level = Condition(kLevel, "Level");
  ASSERT_NE(level, nullptr);
  FILETIME recorded = level->SubconditionLastActiveTime();
  EXPECT_FALSE(IsNullFileTime(recorded));
  EXPECT_EQ(Derived(kLevel)->LastActiveTime(), recorded);
  DWORD cookie = level->Cookie();

  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  EXPECT_EQ(level->Cookie(), cookie);
  EXPECT_EQ(level->SubconditionLastActiveTime(), recorded);
  EXPECT_EQ(Derived(kLevel)->LastActiveTime(), recorded);

  ASSERT_EQ(ClientAck(level, "operator"), S_OK);
  EXPECT_EQ(level->AcknowledgedActiveTime(), Derived(kLevel)->LastActiveTime());
}

TEST_F(ConditionUpdaterTest, ReturnToNormal) {
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  // Back to normal, not acknowledged yet: still awaits acknowledgement.
  SetAlarm("N1.LIC1.AS", 0, false, PlantTime(5), FILETIME(), PlantTime(9));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  CAECondition* level = Condition(kLevel, "Level");
  EXPECT_FALSE(level->Active());
  EXPECT_FALSE(level->Acked());
  EXPECT_EQ(level->ConditionLastInactiveTime(), PlantTime(9));
  // Then acknowledged at the controller.
  SetAlarm("N1.LIC1.AS", 0, true, PlantTime(5), PlantTime(11), PlantTime(9));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  EXPECT_TRUE(level->Acked());
  EXPECT_EQ(level->LastAckTime(), PlantTime(11));

  // A rate-of-change alarm through its own condition.
  SetAlarm("N1.LIC1.RS", 2, false, PlantTime(20));
  ASSERT_EQ(Handle("N1.LIC1.RS"), CConditionUpdater::kApplied);
  CAECondition* rate = Condition(kRate, "RoC");
  EXPECT_EQ(rate->ActiveSubcondition(), "RoCU");
  EXPECT_EQ(rate->Message(), "Level rate 50.00 %/s RoCU");
  SetAlarm("N1.LIC1.RS", 0, true, PlantTime(20), PlantTime(21), PlantTime(22));
  ASSERT_EQ(Handle("N1.LIC1.RS"), CConditionUpdater::kApplied);
  EXPECT_FALSE(rate->Active());
  EXPECT_TRUE(rate->Acked());
  EXPECT_EQ(rate->ConditionLastInactiveTime(), PlantTime(22));

  // A bit alarm.
  SetAlarm("N1.LS2.AS", 1, false, PlantTime(30));
  ASSERT_EQ(Handle("N1.LS2.AS"), CConditionUpdater::kApplied);
  CAECondition* bit = Condition(kBit, "Bit");
  EXPECT_TRUE(bit->Active());
  EXPECT_EQ(bit->ActiveSubcondition(), "Bit");
  SetAlarm("N1.LS2.AS", 0, false, PlantTime(30), FILETIME(), PlantTime(31));
  ASSERT_EQ(Handle("N1.LS2.AS"), CConditionUpdater::kApplied);
  EXPECT_FALSE(bit->Active());
  EXPECT_FALSE(bit->Acked());
  EXPECT_EQ(bit->ConditionLastInactiveTime(), PlantTime(31));
}

TEST_F(ConditionUpdaterTest, AnAlarmMissedWhileAwayIsShown) {
  // Found at the first read back to normal but unacknowledged: shown as it
  // was, still awaiting acknowledgement.
  SetAlarm("N1.LIC1.AS", 0, false, PlantTime(5), FILETIME(), PlantTime(6));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  CAECondition* level = Condition(kLevel, "Level");
  EXPECT_FALSE(level->Active());
  EXPECT_FALSE(level->Acked());
  EXPECT_EQ(level->ActiveSubcondition(), "Normal");
  EXPECT_EQ(level->SubconditionLastActiveTime(), PlantTime(5));
  EXPECT_EQ(Derived(kLevel)->LastActiveTime(), PlantTime(5));
  ASSERT_EQ(ClientAck(level, "operator"), S_OK);

  // An alarm that came, was acknowledged at the controller and went
  // between two reads: shown as a new activation, already acknowledged.
  DWORD cookie = level->Cookie();
  SetAlarm("N1.LIC1.AS", 0, true, PlantTime(7), PlantTime(8), PlantTime(9));
  ASSERT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kApplied);
  EXPECT_EQ(level->SubconditionLastActiveTime(), PlantTime(7));
  EXPECT_NE(level->Cookie(), cookie);
  EXPECT_FALSE(level->Active());
  EXPECT_TRUE(level->Acked());
  EXPECT_EQ(level->ConditionLastInactiveTime(), PlantTime(9));
  EXPECT_EQ(Derived(kLevel)->LastActiveTime(), PlantTime(7));
}

TEST_F(ConditionUpdaterTest, MissingSourcesAndConditions) {
  ASSERT_NE(g_SourceCache.RemoveSource(kLevel), 0);
  EXPECT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kNoSource);
  EXPECT_EQ(emptySources_, 1u);
  EXPECT_TRUE(Variable("N1.LIC1.AS").initialPending);
  // A source of that name without the kind's condition.
  EXPECT_NE(g_SourceCache.AddSource(new CDerivedSource(kLevel, kAlarmWord, 0, 0, nullptr)), 0);
  EXPECT_EQ(Handle("N1.LIC1.AS"), CConditionUpdater::kNoCondition);
  EXPECT_EQ(emptySources_, 1u);
}

TEST_F(ConditionUpdaterTest, DumpLines) {
  std::string path = dir_ + "/sent.txt";
  CAlarmDumpFile dump;
  ASSERT_TRUE(dump.Open(path));
  emptySources_ = 2;
  SetAlarm("N1.LIC1.AS", 4, false, PlantTime(5));
  ASSERT_EQ(Handle("N1.LIC1.AS", &dump, 3), CConditionUpdater::kApplied);
  SetAlarm("N1.LIC1.AS", 0, false, PlantTime(5), FILETIME(), PlantTime(3600 + 61));
  ASSERT_EQ(Handle("N1.LIC1.AS", &dump, 3), CConditionUpdater::kApplied);
  dump.Close();
  // Local times of the plant's zone (UTC+2 in June).
  EXPECT_EQ(Utf16LeToUtf8(ReadFileBytes(path)),
            "Plant/Tanks/N1_LIC1 (CONDITION) : Level (ON) : HiHi (TRIGGER TIME) : 12 : 0 : 5 : ListSize= 3 : "
            "EmptyPSources= 2\r\n"
            "Plant/Tanks/N1_LIC1 (CONDITION) : Level (OFF) : HiHi (TRIGGER TIME) : 13 : 1 : 1 : ListSize= 3 : "
            "EmptyPSources= 2\r\n");
}

}  // namespace
