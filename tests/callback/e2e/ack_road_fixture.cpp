#include "ack_road_fixture.h"

#include <filesystem>
#include <fstream>

#include "callback/alarm_log_instance.h"
#include "platform/class_factory.h"
#include "ralto/config_server.h"
#include "ralto/opc_server.h"
#include "tests/support/eventually.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/source_cache.h"

namespace {

std::string Member(const std::string& block, const std::string& member, const std::string& type,
                   const std::string& init = "") {
  return "  <BlockSubElement Name=\"" + block + "." + member + "\" BlockType=\"" + type + "\"" +
         (init.empty() ? "" : " InitValue=\"" + init + "\"") + "/>\n";
}

std::string Block(const std::string& name, const std::string& type, const std::vector<std::string>& members,
                  const std::string& message, const std::string& rocMessage) {
  std::string text = "<BlockStructure Name=\"" + name + "\">\n";
  for (const std::string& m : members) text += Member(name, m, type, m == "LP" ? "1,2,3,4,5,1" : "");
  return text + "  <Area Data=\"Plant/Tanks\"/>\n  <Message Data=\"" + message + "\" DataROC=\"" + rocMessage +
         "\"/>\n</BlockStructure>\n";
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

FILETIME PlantTime(int seconds) {
  return Uint64ToFileTime(133'618'392'000'000'000 + uint64_t(seconds) * kFileTimeTicksPerSecond);
}

void AckRoadTest::WritePlant(const std::string& folder) {
  std::filesystem::create_directories(folder);
  WriteFile(folder + "/ConfigurationSummary.xml",
            "<ConfigurationSummary xmlns=\"urn:ralto:config:1.0\">\n"
            "  <NodeSummary Name=\"N1\" ProducerId=\"1\"><Document DocType=\"ProducedData\"/></NodeSummary>\n"
            "</ConfigurationSummary>\n");
  WriteFile(folder + "/ProducedData_1.xml",
            "<ProducedData xmlns=\"urn:ralto:config:1.0\">\n"
            "  <Producer Name=\"N1\" ConfigTimeSecs=\"100\" ConfigTimeNSecs=\"0\">\n"
            "    <RaltoConfigExtension><BlockStructures>\n" +
                Block("LIC1", "O0C", {"AS", "RS", "LP", "FC"}, "Tank level high", "Tank level rising") +
                Block("LS2", "O0D", {"AS", "LP", "FC"}, "Switch tripped", "") +
                "    </BlockStructures></RaltoConfigExtension>\n  </Producer>\n</ProducedData>\n");
}

void AckRoadTest::SetUp() {
  InstallStrings();
  RegisterItemIdClass();
  std::string error;
  ASSERT_EQ(RegisterPlugin(RALTO_CONFIG_LIBRARY, &error), S_OK) << error;
  ASSERT_EQ(RegisterPlugin(RALTO_OPC_LIBRARY, &error), S_OK) << error;
  if (HasFatalFailure()) return;
  std::string plant = std::filesystem::temp_directory_path().string() + "/plant";
  WritePlant(plant);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plant),
            ERROR_SUCCESS);

  // The plant moves only when told: manual update ticks and clock.
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kRaltoOpcProgId, &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer_.PutVoid()), S_OK);
  ASSERT_EQ(controlServer_.As(IID_IRaltoOpcControl, control_), S_OK);
  ASSERT_EQ(control_->SetManualUpdates(true), S_OK);
  ASSERT_EQ(control_->UseManualClock(PlantTime(0)), S_OK);
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);

  logFolder_ = UseLogFolder(true);
  log_ = std::make_unique<CAlarmLog>();
  g_pAlarmLog = log_.get();

  core_ = std::make_unique<CServerCore>(&callback_, CAlarmProcessor::Timing(), processorClock_);
  ASSERT_TRUE(core_->Start());
  ASSERT_TRUE(Eventually([&] { return core_->Manager()->connectionState == ConnectionManager::kConnected; }));

  ASSERT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server_.PutVoid()),
            S_OK);
  ComPtr<IUnknown> subscription;
  DWORD bufferTime = 0, maxSize = 0;
  ASSERT_EQ(server_->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSubscriptionMgt, subscription.Put(),
                                             &bufferTime, &maxSize),
            S_OK);
  ASSERT_EQ(subscription.As(IID_IOPCEventSubscriptionMgt, subscription_), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(subscription_.As(IID_IConnectionPointContainer, container), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCEventSink, point.Put()), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IOPCEventSink*>(sink_.Get()), &cookie), S_OK);
}

void AckRoadTest::TearDown() {
  subscription_.Reset();
  server_.Reset();
  if (core_) core_->Stop();
  core_.reset();
  g_pAlarmLog = nullptr;
  log_.reset();
  control_.Reset();
  controlServer_.Reset();
}

ONEVENTSTRUCT AckRoadTest::RaiseAlarm(const std::string& stateWord, const std::string& source, BYTE state,
                                      BYTE flags, FILETIME activation) {
  RaltoAlarmSetting alarm;
  alarm.state = state;
  alarm.acknowledged = false;
  alarm.flags = flags;
  alarm.activation = activation;
  EXPECT_EQ(control_->SetAlarm(stateWord, alarm), S_OK) << stateWord;
  EXPECT_EQ(control_->TickUpdates(), S_OK);
  ONEVENTSTRUCT event;
  EXPECT_TRUE(sink_->WaitFor(
      source,
      [&](const ONEVENTSTRUCT& e) {
        return (e.wNewState & OPC_CONDITION_ACTIVE) && !(e.wNewState & OPC_CONDITION_ACKED) &&
               e.ftActiveTime == activation;
      },
      event))
      << source;
  return event;
}

HRESULT AckRoadTest::Acknowledge(const ONEVENTSTRUCT& event, const std::string& operatorName,
                                 const std::string& comment) {
  std::vector<HRESULT> errors;
  HRESULT hr = server_->AckCondition(1, operatorName, comment, &event.szSource, &event.szConditionName,
                                     &event.ftActiveTime, &event.dwCookie, &errors);
  if (FAILED(hr)) return hr;
  return errors.size() == 1 ? errors[0] : E_UNEXPECTED;
}

std::vector<RaltoFcWrite> AckRoadTest::FcWrites() {
  std::vector<RaltoFcWrite> writes;
  EXPECT_EQ(control_->GetFcWrites(&writes), S_OK);
  return writes;
}

CDerivedSource* AckRoadTest::Source(const std::string& name) {
  auto* source = dynamic_cast<CDerivedSource*>(g_SourceCache.GetSource(name));
  EXPECT_NE(source, nullptr) << name;
  return source;
}
