// A client's acknowledgement through the toolkit's in-process API, written
// back to the simulated controller's ".FC" item and recorded in the
// acknowledgement log, in each of the road's outcomes; and what else
// clients reach of the callback through the toolkit.
#include <vector>

#include "ack_road_fixture.h"
#include "acklog/ack_log_settings.h"
#include "platform/class_factory.h"
#include "toolkit/condition.h"

namespace {

constexpr char kNotConnected[] = "Error: Not Connected to Ralto Stewardry Edition OPC Server";

TEST_F(AckRoadTest, AnAcknowledgementReachesTheControllerAndTheLog) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.AS", kLevelSource, 3, 0x21, PlantTime(10));
  ASSERT_EQ(alarm.szSubconditionName, "Hi");
  EXPECT_EQ(Acknowledge(alarm, "operator1", "tank checked"), S_OK);

  std::vector<RaltoFcWrite> writes = FcWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].itemId, "N1.LIC1.FC");
  EXPECT_EQ(writes[0].value, 0x2101);

  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  const AckRecord& r = records[0];
  EXPECT_EQ(r.condition, "Level");
  EXPECT_EQ(r.subcondition, "Hi");
  EXPECT_EQ(r.operatorName, "operator1");
  EXPECT_EQ(r.comment, "tank checked");
  EXPECT_EQ(r.result, "Success");
  EXPECT_EQ(r.area, "Plant/Tanks");
  EXPECT_EQ(r.target, "N1");
  EXPECT_EQ(r.variable, "LIC1.AS");
  EXPECT_EQ(callback_.ClientCount(), 1);
}

TEST_F(AckRoadTest, ARateOfChangeAcknowledgementWritesBitOne) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.RS", kRocSource, 2, 0x01, PlantTime(20));
  ASSERT_EQ(alarm.szSubconditionName, "RoCU");
  EXPECT_EQ(Acknowledge(alarm, "operator2", ""), S_OK);
  std::vector<RaltoFcWrite> writes = FcWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].itemId, "N1.LIC1.FC");
  EXPECT_EQ(writes[0].value, 0x0102);
  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].condition, "RoC");
  EXPECT_EQ(records[0].result, "Success");
}

TEST_F(AckRoadTest, WithTheConnectionDownTheRecordSaysSoAndNothingIsWritten) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.AS", kLevelSource, 3, 0x01, PlantTime(10));
  core_->Manager()->Disconnect();
  EXPECT_EQ(Acknowledge(alarm, "operator1", "while the link is down"), S_OK);

  EXPECT_TRUE(FcWrites().empty());
  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].result, kNotConnected);
  EXPECT_EQ(records[0].operatorName, "operator1");
  EXPECT_EQ(records[0].comment, "while the link is down");
  EXPECT_EQ(records[0].condition, "Level");
}

TEST_F(AckRoadTest, WithLoggingDisabledTheWordIsWrittenButNotRecorded) {
  ASSERT_EQ(SetLoggingEnabled(false), ERROR_SUCCESS);
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LS2.AS", "Plant/Tanks/N1_LS2.Bit", 1, 0x01, PlantTime(30));
  EXPECT_EQ(Acknowledge(alarm, "operator1", "switch seen"), S_OK);

  std::vector<RaltoFcWrite> writes = FcWrites();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].itemId, "N1.LS2.FC");
  EXPECT_EQ(writes[0].value, 0x0101);
  EXPECT_TRUE(LogRecords(logFolder_).empty());
}

TEST_F(AckRoadTest, WhileTheServerItselfAcknowledgesNothingIsWrittenOrRecorded) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.AS", kLevelSource, 3, 0x01, PlantTime(10));
  CDerivedSource* source = Source(kLevelSource);
  ASSERT_NE(source, nullptr);
  source->SetAckInProgress(true);  // as while the server withdraws or clears the source
  EXPECT_EQ(Acknowledge(alarm, "operator1", "at the same moment"), S_OK);
  source->SetAckInProgress(false);

  EXPECT_TRUE(FcWrites().empty());
  EXPECT_TRUE(LogRecords(logFolder_).empty());
}

TEST_F(AckRoadTest, ADisabledConditionIsNeitherWrittenBackNorRecorded) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.AS", kLevelSource, 3, 0x01, PlantTime(10));
  std::string area = "Plant/Tanks";
  ASSERT_EQ(server_->DisableConditionByArea(1, &area), S_OK);
  EXPECT_EQ(Acknowledge(alarm, "operator1", "while disabled"), E_INVALIDARG);
  EXPECT_TRUE(FcWrites().empty());
  EXPECT_TRUE(LogRecords(logFolder_).empty());

  ASSERT_EQ(server_->EnableConditionByArea(1, &area), S_OK);
  EXPECT_EQ(Acknowledge(alarm, "operator1", "enabled again"), S_OK);
  EXPECT_EQ(FcWrites().size(), 1u);
  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].comment, "enabled again");
}

TEST_F(AckRoadTest, AStaleActivationTimeIsRecordedAndNotWritten) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.AS", kLevelSource, 3, 0x01, PlantTime(10));
  CDerivedSource* source = Source(kLevelSource);
  ASSERT_NE(source, nullptr);
  // The server holds an older activation than the one the client saw.
  source->SetLastActiveTime(PlantTime(5));
  EXPECT_EQ(Acknowledge(alarm, "operator1", "late"), S_OK);

  EXPECT_TRUE(FcWrites().empty());
  std::vector<AckRecord> records = LogRecords(logFolder_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].result.rfind("Error: Existing activation time (", 0), 0u) << records[0].result;
  EXPECT_NE(records[0].result.find(") does not match incoming time ("), std::string::npos) << records[0].result;
  EXPECT_EQ(records[0].operatorName, "operator1");
}

TEST_F(AckRoadTest, ClientsGetItemIdsAndAttributeValuesFromTheCallback) {
  ONEVENTSTRUCT alarm = RaiseAlarm("N1.LIC1.AS", kLevelSource, 3, 0x01, PlantTime(10));
  const DWORD ids[] = {0, 1};
  std::vector<std::string> items, nodes;
  std::vector<CLSID> clsids;
  ASSERT_EQ(server_->TranslateToItemIDs(kLevelSource, 1, "Level", "Hi", 2, ids, &items, &nodes, &clsids), S_OK);
  EXPECT_EQ(items, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(nodes, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(clsids, (std::vector<CLSID>{kItemIdClsid, kItemIdClsid}));
  const DWORD otherCategory[] = {0, 2};
  EXPECT_EQ(server_->TranslateToItemIDs(kLevelSource, 1, "Level", "Hi", 2, otherCategory, &items, &nodes, &clsids),
            E_INVALIDARG);

  // The values are those the latest notification carried: a slot filled
  // afterwards shows with the next one.
  Source(kLevelSource)->SetAttributeValue(1, VARIANT::Bstr("Jo Operator"));
  OPCCONDITIONSTATE state;
  ASSERT_EQ(server_->GetConditionState(kLevelSource, "Level", 2, ids, &state), S_OK);
  ASSERT_EQ(state.pEventAttributes.size(), 2u);
  EXPECT_EQ(state.pEventAttributes[1], VARIANT::Bstr(""));
  EXPECT_EQ(Acknowledge(alarm, "operator1", ""), S_OK);
  ASSERT_EQ(server_->GetConditionState(kLevelSource, "Level", 2, ids, &state), S_OK);
  ASSERT_EQ(state.pEventAttributes.size(), 2u);
  EXPECT_EQ(state.pEventAttributes[1], VARIANT::Bstr("Jo Operator"));
}

TEST_F(AckRoadTest, TheLastClientToGoClosesTheMainWindowOnce) {
  RecordingWindow window;
  callback_.SetMainWindowLink(&window);
  ComPtr<IOPCEventServer> second;
  ASSERT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, second.PutVoid()),
            S_OK);
  EXPECT_EQ(callback_.ClientCount(), 2);

  second.Reset();
  EXPECT_EQ(window.closeMessages, 0);
  subscription_.Reset();  // the client's objects go with it
  server_.Reset();
  EXPECT_EQ(callback_.ClientCount(), 0);
  EXPECT_EQ(window.closeMessages, 1);
  callback_.SetMainWindowLink(nullptr);
}

}  // namespace
