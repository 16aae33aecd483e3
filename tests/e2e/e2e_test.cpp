// The alarm road end to end, from the simulated controllers of the example
// plant to an in-process OPC AE client, and the acknowledgement back.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "alarmconfig/tracked_mutex.h"
#include "opcda/alarm_requests.h"
#include "e2e_fixture.h"
#include "platform/registry.h"
#include "tests/support/eventually.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kLevel[] = "Tank_Farm/T-101/TANKFARM_LIC101.A";
constexpr char kRate[] = "Tank_Farm/T-101/TANKFARM_LIC101.ROC";
constexpr char kBit[] = "Tank_Farm/T-101/TANKFARM_LSHH101.Bit";

bool Active(const ONEVENTSTRUCT& e) { return (e.wNewState & OPC_CONDITION_ACTIVE) != 0; }
bool Acked(const ONEVENTSTRUCT& e) { return (e.wNewState & OPC_CONDITION_ACKED) != 0; }

class AlarmRoadTest : public EndToEndTest {
 protected:
  // The controller's T-101 level goes to 95 at the next scan (1 s later):
  // HiHi, and a rise fast enough for RoCU. The client's HiHi event.
  ONEVENTSTRUCT RaiseHiHi() {
    size_t from = events_->Count();
    EXPECT_EQ(control_->SetProcessValue("TANKFARM.LIC101", 95), S_OK);
    Scan(1000);
    return Event(kLevel, [](const ONEVENTSTRUCT& e) { return Active(e) && e.szSubconditionName == "HiHi"; }, from);
  }
  // Between the client's acknowledgement and its write-back the controller
  // raises the level alarm again, on Hi, acknowledged there already or not.
  void RaiseHiBeforeTheWriteBack(bool acknowledged) {
    callback_.beforeAcknowledgement = [this, acknowledged] {
      size_t from = events_->Count();
      RaltoAlarmSetting hi;
      hi.state = 3;
      hi.acknowledged = acknowledged ? true : false;
      hi.flags = 0x01;
      hi.activation = PlantTime(5);
      if (acknowledged) hi.acknowledgement = PlantTime(5);
      ASSERT_EQ(control_->SetAlarm("TANKFARM.LIC101.AS", hi), S_OK);
      Tick();
      Event(kLevel, [](const ONEVENTSTRUCT& e) { return Active(e) && e.szSubconditionName == "Hi"; }, from);
      // The processor sends it while handling the alarm, under g_ConfigMutex:
      // once the mutex is free, the handling (and its own acknowledgement) is over.
      TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    };
  }
  // The state word of the level alarm as the processor last read it.
  uint32_t LevelWord() {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    AlarmVar* word = core_->Manager()->FindVariable("TANKFARM.LIC101.AS");
    return word && word->value.vt == VT_UI4 ? word->value.ulVal : 0;
  }
};

TEST_F(AlarmRoadTest, AHiHiReachesTheClientWithTheControllersTime) {
  ONEVENTSTRUCT hihi = RaiseHiHi();
  EXPECT_EQ(hihi.szConditionName, "Level");
  EXPECT_EQ(hihi.dwEventCategory, 1u);
  EXPECT_EQ(hihi.dwSeverity, 900u);
  EXPECT_EQ(hihi.ftActiveTime, PlantTime(1));
  EXPECT_EQ(hihi.ftTime, PlantTime(1));
  EXPECT_EQ(hihi.szMessage, "T-101 level 95.00 % HiHi");
  EXPECT_TRUE(hihi.bAckRequired);
  EXPECT_FALSE(Acked(hihi));
  EXPECT_EQ(hihi.wQuality, 192);

  ONEVENTSTRUCT rate = Event(kRate, [](const ONEVENTSTRUCT& e) { return Active(e); });
  EXPECT_EQ(rate.szSubconditionName, "RoCU");
  EXPECT_EQ(rate.szMessage, "T-101 level changing fast, now 95.00 %: RoCU");
  EXPECT_EQ(rate.ftActiveTime, PlantTime(1));
}

TEST_F(AlarmRoadTest, TheClientsAcknowledgementGoesToTheController) {
  ONEVENTSTRUCT hihi = RaiseHiHi();
  ASSERT_EQ(Acknowledge(hihi, "operator"), S_OK);
  std::vector<RaltoFcWrite> writes = FcWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].itemId, "TANKFARM.LIC101.FC");
  EXPECT_EQ(writes[0].value, 0x0101);  // the flags (alarm enabled) and 1
  // The controller took it: its acknowledged bit reaches the server.
  Tick();
  ASSERT_TRUE(Eventually([&] { return (LevelWord() & 0x80) != 0; }));
  OPCCONDITIONSTATE state = State(kLevel, "Level");
  EXPECT_EQ(state.szAcknowledgerID, "operator");
  EXPECT_NE(state.wState & OPC_CONDITION_ACKED, 0);

  ONEVENTSTRUCT rate = Event(kRate, [](const ONEVENTSTRUCT& e) { return Active(e); });
  ASSERT_EQ(Acknowledge(rate, "operator"), S_OK);
  writes = FcWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].itemId, "TANKFARM.LIC101.FC");
  EXPECT_EQ(writes[1].value, 0x0102);

  std::vector<AckRecord> records = LogRecords();
  ASSERT_EQ(records.size(), 2u);
  for (const AckRecord& r : records) {
    EXPECT_EQ(r.result, "Success");
    EXPECT_EQ(r.operatorName, "operator");
  }
}

TEST_F(AlarmRoadTest, TheControllerAcknowledgesOnItsOwn) {
  RaiseHiHi();
  size_t from = events_->Count();
  RaltoAlarmSetting acked;
  acked.state = 4;
  acked.acknowledged = true;
  acked.flags = 0x01;
  acked.activation = PlantTime(1);
  acked.acknowledgement = PlantTime(3);
  ASSERT_EQ(control_->SetAlarm("TANKFARM.LIC101.AS", acked), S_OK);
  Tick();
  ONEVENTSTRUCT e = Event(kLevel, Acked, from);
  EXPECT_EQ(e.wChangeMask, OPC_CHANGE_ACK_STATE);
  EXPECT_EQ(e.ftTime, PlantTime(3));
  EXPECT_EQ(e.szActorID, "Unknown User");
  EXPECT_TRUE(Active(e));
  EXPECT_EQ(State(kLevel, "Level").ftLastAckTime, PlantTime(3));
  EXPECT_TRUE(FcWrites().empty());
  EXPECT_TRUE(LogRecords().empty());
}

TEST_F(AlarmRoadTest, ReturnsToNormal) {
  RaiseHiHi();
  size_t from = events_->Count();
  ASSERT_EQ(control_->SetProcessValue("TANKFARM.LIC101", 50), S_OK);
  Scan(1000);
  ONEVENTSTRUCT normal = Event(kLevel, [](const ONEVENTSTRUCT& e) { return !Active(e); }, from);
  EXPECT_EQ(normal.ftTime, PlantTime(2));
  EXPECT_TRUE(normal.bAckRequired) << "not acknowledged yet";
  EXPECT_EQ(normal.szMessage, "T-101 level 50.00 % Normal");
  EXPECT_EQ(State(kLevel, "Level").ftCondLastInactive, PlantTime(2));

  // The fall was fast too (RoCD); a quiet scan ends the rate alarm.
  ONEVENTSTRUCT down = Event(kRate, [](const ONEVENTSTRUCT& e) { return e.szSubconditionName == "RoCD"; }, from);
  EXPECT_EQ(down.ftActiveTime, PlantTime(2));
  from = events_->Count();
  Scan(1000);
  ONEVENTSTRUCT quiet = Event(kRate, [](const ONEVENTSTRUCT& e) { return !Active(e); }, from);
  EXPECT_EQ(quiet.ftTime, PlantTime(3));

  // The high-high switch: a bit alarm.
  from = events_->Count();
  ASSERT_EQ(control_->SetProcessValue("TANKFARM.LSHH101", 1), S_OK);
  Scan(1000);
  ONEVENTSTRUCT on = Event(kBit, Active, from);
  EXPECT_EQ(on.szConditionName, "Bit");
  EXPECT_EQ(on.szSubconditionName, "Bit");
  EXPECT_EQ(on.ftActiveTime, PlantTime(4));
  EXPECT_EQ(on.szMessage, "T-101 high-high level, overfill protection Alarmed");
  ASSERT_EQ(control_->SetProcessValue("TANKFARM.LSHH101", 0), S_OK);
  Scan(1000);
  ONEVENTSTRUCT off = Event(kBit, [](const ONEVENTSTRUCT& e) { return !Active(e); }, from);
  EXPECT_EQ(off.ftTime, PlantTime(5));
  EXPECT_EQ(off.szMessage, "T-101 high-high level, overfill protection Normal");
}

TEST_F(AlarmRoadTest, AnAlarmReArmedBeforeTheWriteBackIsNotAcknowledgedForTheClient) {
  ONEVENTSTRUCT hihi = RaiseHiHi();
  RaiseHiBeforeTheWriteBack(true);
  ASSERT_EQ(Acknowledge(hihi, "operator"), S_OK);
  EXPECT_TRUE(FcWrites().empty());
  std::vector<AckRecord> records = LogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].result.rfind("Error: Existing activation time (", 0), 0u) << records[0].result;
  EXPECT_NE(records[0].result.find(") does not match incoming time ("), std::string::npos);
}

// The same with a new alarm the controller raises unacknowledged: the
// client's acknowledgement was for the old one and must not reach the
// controller as an acknowledgement of the new.
TEST_F(AlarmRoadTest, AnAlarmRaisedAgainBeforeTheWriteBackIsNotAcknowledgedForTheClient) {
  ONEVENTSTRUCT hihi = RaiseHiHi();
  RaiseHiBeforeTheWriteBack(false);
  ASSERT_EQ(Acknowledge(hihi, "operator"), S_OK);
  EXPECT_TRUE(FcWrites().empty());
  EXPECT_EQ(LevelWord() & 0x80, 0u);  // the controller still waits for an acknowledgement
  // The record tells what the operator acknowledged, and that it did not
  // reach the controller.
  std::vector<AckRecord> records = LogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].subcondition, "HiHi");
  EXPECT_EQ(records[0].operatorName, "operator");
  EXPECT_EQ(records[0].result.rfind("Error: Existing activation time (", 0), 0u) << records[0].result;
}

TEST_F(AlarmRoadTest, TheServerGoesAndComesBack) {
  RaiseHiHi();
  ConnectionManager& manager = *core_->Manager();
  size_t from = events_->Count();
  ASSERT_EQ(control_->FailCall(RALTO_CALL_CREATEINSTANCE, E_FAIL, 0, 0), S_OK);
  manager.Disconnect();
  EXPECT_EQ(ConnectionManager::StateText(manager.connectionState), "Not Connected");
  ONEVENTSTRUCT bad = Event(kLevel, [](const ONEVENTSTRUCT& e) { return e.wQuality == 0; }, from);
  EXPECT_EQ(bad.wChangeMask, OPC_CHANGE_QUALITY);
  EXPECT_EQ(State(kBit, "Bit").wQuality, 0);

  // The processor's minute: the server cannot be created yet.
  processorClock_.Advance(61'000);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(Eventually([&] { return manager.connectionState != ConnectionManager::kConnecting; }));
  EXPECT_EQ(manager.connectionState, ConnectionManager::kNotConnected);

  // Back: the next check connects, the sources are built again and the
  // controller's alarm shows again.
  ASSERT_EQ(control_->ClearFailures(), S_OK);
  from = events_->Count();
  processorClock_.Advance(61'000);
  ASSERT_TRUE(Eventually([&] { return manager.connectionState == ConnectionManager::kConnected; }));
  EXPECT_EQ(State(kBit, "Bit").wQuality, 192);
  Tick();
  ONEVENTSTRUCT again = Event(
      kLevel, [](const ONEVENTSTRUCT& e) { return Active(e) && e.szSubconditionName == "HiHi"; }, from);
  EXPECT_EQ(again.wQuality, 192);
  EXPECT_EQ(again.ftActiveTime, PlantTime(1));
}

// Faults of the OPC DA server: an element that never became an item,
// reads that fail (the connection goes and comes back).
class FaultTest : public AlarmRoadTest {
 protected:
  void BeforeStart() override {
    // Without a browse the rejected item stays out.
    ASSERT_EQ(control_->HideInterface(IID_IOPCBrowseServerAddressSpace), S_OK);
    ASSERT_EQ(control_->RejectItem("TANKFARM.LIC101.AS[4]"), S_OK);
  }
};

TEST_F(FaultTest, TheServerCarriesOnWithWhatItCanRead) {
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    AlarmVar* element = core_->Manager()->FindVariable("TANKFARM.LIC101.AS[4]");
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->serverHandle, 0u);
  }
  // No return-to-normal element: the activation time stands in.
  RaiseHiHi();
  size_t from = events_->Count();
  ASSERT_EQ(control_->SetProcessValue("TANKFARM.LIC101", 50), S_OK);
  Scan(1000);
  ONEVENTSTRUCT normal = Event(kLevel, [](const ONEVENTSTRUCT& e) { return !Active(e); }, from);
  EXPECT_EQ(normal.ftTime, PlantTime(1));

  // Reads failing: the change cannot be read, so the connection goes and
  // the client sees bad quality; the reconnect of the processor's minute
  // reads the alarm that came meanwhile, with its own time.
  ConnectionManager& manager = *core_->Manager();
  ASSERT_EQ(control_->FailCall(RALTO_CALL_READ, E_FAIL, 0, 0), S_OK);
  ASSERT_EQ(control_->SetProcessValue("TANKFARM.LSHH101", 1), S_OK);
  from = events_->Count();
  Scan(1000);
  ONEVENTSTRUCT bad = Event(kBit, [](const ONEVENTSTRUCT& e) { return e.wQuality == 0; }, from);
  EXPECT_FALSE(Active(bad));
  ASSERT_TRUE(Eventually([&] { return manager.connectionState == ConnectionManager::kNotConnected; }));
  ASSERT_EQ(control_->ClearFailures(), S_OK);
  from = events_->Count();
  processorClock_.Advance(61'000);
  ASSERT_TRUE(Eventually([&] { return manager.connectionState == ConnectionManager::kConnected; }));
  Tick();
  ONEVENTSTRUCT on = Event(kBit, Active, from);
  EXPECT_EQ(on.ftActiveTime, PlantTime(3));
  EXPECT_EQ(on.wQuality, 192);
}

// The binding thread every 50 ms.
class BindingTest : public AlarmRoadTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC", 1000));
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0",
                          "AlarnEventBindingRate", 50),
              ERROR_SUCCESS);
    AlarmRoadTest::SetUp();
  }
};

TEST_F(BindingTest, AProducersDocumentsChangeWhileConnected) {
  constexpr char kNew[] = "Tank_Farm/T-199/TANKFARM_LIC199.A";
  constexpr char kGone[] = "Tank_Farm/T-101/TANKFARM_TI101.A";
  ASSERT_NE(g_SourceCache.GetSource(kGone), nullptr);
  EditDocument("ProducedData_1.xml", "ConfigTimeSecs=\"1717401600\"", "ConfigTimeSecs=\"1717401700\"");
  EditDocument("ProducedData_1.xml",
               "        <BlockStructure Name=\"TI101\" Description=\"T-101 solvent temperature\">\n"
               "          <BlockSubElement Name=\"TI101.AS\" BlockType=\"O0C\"/>\n"
               "          <BlockSubElement Name=\"TI101.LP\" BlockType=\"O0C\" InitValue=\"3,4,4,3,5,5\"/>\n"
               "          <BlockSubElement Name=\"TI101.FC\" BlockType=\"O0C\"/>\n"
               "          <BlockSubElement Name=\"TI101.PI\" BlockType=\"O0C\"/>\n"
               "          <Area Data=\"Tank Farm/T-101\"/>\n"
               "          <Message Data=\"T-101 solvent temperature %VAL degC %STATE\"/>\n"
               "        </BlockStructure>\n",
               "        <BlockStructure Name=\"LIC199\" Description=\"T-199 level\">\n"
               "          <BlockSubElement Name=\"LIC199.AS\" BlockType=\"O0C\"/>\n"
               "          <BlockSubElement Name=\"LIC199.LP\" BlockType=\"O0C\" InitValue=\"1,2,2,1,3,3\"/>\n"
               "          <BlockSubElement Name=\"LIC199.FC\" BlockType=\"O0C\"/>\n"
               "          <BlockSubElement Name=\"LIC199.PI\" BlockType=\"O0C\"/>\n"
               "          <Area Data=\"Tank Farm/T-199\"/>\n"
               "          <Message Data=\"T-199 level %VAL % %STATE\"/>\n"
               "        </BlockStructure>\n");
  ConnectionManager& manager = *core_->Manager();
  ASSERT_TRUE(Eventually([&] {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    AlarmVar* word = manager.FindVariable("TANKFARM.LIC199.AS");
    return word && word->serverHandle != 0 && g_SourceCache.GetSource(kNew) && !g_SourceCache.GetSource(kGone) &&
           manager.bindingState == ConnectionManager::kBindingIdle;
  }));
  EXPECT_EQ(manager.FindVariable("TANKFARM.TI101.AS"), nullptr);

  // The new block's alarm reaches the client.
  size_t from = events_->Count();
  ASSERT_EQ(control_->SetProcessValue("TANKFARM.LIC199", 95), S_OK);
  Scan(1000);
  ONEVENTSTRUCT hihi = Event(kNew, [](const ONEVENTSTRUCT& e) { return Active(e) && e.szSubconditionName == "HiHi"; }, from);
  EXPECT_EQ(hihi.szMessage, "T-199 level 95.00 % HiHi");
  EXPECT_EQ(hihi.ftActiveTime, PlantTime(1));
}

}  // namespace
