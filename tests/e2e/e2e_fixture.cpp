#include "e2e_fixture.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "acklog/ack_log_settings.h"
#include "acklog/log_reader.h"
#include "alarmconfig/resource_string_table.h"
#include "callback/alarm_log_instance.h"
#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_server.h"
#include "tests/support/eventually.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/source_cache.h"

namespace fs = std::filesystem;

FILETIME PlantTime(int seconds) {
  constexpr uint64_t kStart = 133'618'824'000'000'000;  // 2024-06-03 10:00:00 UTC
  return Uint64ToFileTime(kStart + uint64_t(seconds) * kFileTimeTicksPerSecond);
}

void HookedCallback::OnConditionAcknowledged(CAECondition* condition) {
  if (auto hook = std::exchange(beforeAcknowledgement, nullptr)) hook();
  CLumAEServerCallback::OnConditionAcknowledged(condition);
}

void EndToEndTest::SetUp() {
  std::string error;
  ASSERT_EQ(RegisterPlugin(RALTO_CONFIG_LIBRARY, &error), S_OK) << error;
  ASSERT_EQ(RegisterPlugin(RALTO_OPC_LIBRARY, &error), S_OK) << error;
  plantDir_ = (fs::temp_directory_path() / "plant").string();
  fs::create_directories(plantDir_);
  for (const auto& entry : fs::directory_iterator(AE_EXAMPLE_PLANT_DIR)) {
    if (entry.path().extension() == ".xml") fs::copy_file(entry.path(), plantDir_ / entry.path().filename());
  }
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plantDir_),
            ERROR_SUCCESS);
  CResourceStringTable strings;
  ASSERT_TRUE(strings.Load(AE_STRINGS_XML, &error)) << error;
  strings.Install();

  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kRaltoOpcProgId, &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer_.PutVoid()), S_OK);
  ASSERT_EQ(controlServer_.As(IID_IRaltoOpcControl, control_), S_OK);
  ASSERT_EQ(control_->UseManualClock(PlantTime(0)), S_OK);
  ASSERT_EQ(control_->SetManualUpdates(true), S_OK);
  BeforeStart();
  if (HasFatalFailure()) return;

  logDir_ = (fs::temp_directory_path() / "acklog").string();
  fs::create_directories(logDir_);
  ASSERT_EQ(SetLocalPath(logDir_), ERROR_SUCCESS);
  ASSERT_EQ(SetLoggingEnabled(true), ERROR_SUCCESS);
  log_ = std::make_unique<CAlarmLog>();
  g_pAlarmLog = log_.get();

  CAlarmProcessor::Timing timing;
  timing.waitMs = 20;
  timing.retrySleepMs = 10;
  core_ = std::make_unique<CServerCore>(&callback_, timing, processorClock_);
  ASSERT_TRUE(core_->Start());
  ConnectionManager* manager = core_->Manager();
  Eventually([&] { return manager->connectionState == ConnectionManager::kConnected; });
  ASSERT_EQ(manager->connectionState, ConnectionManager::kConnected);

  ASSERT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server_.PutVoid()),
            S_OK);
  ComPtr<IUnknown> unknown;
  DWORD buffer = 0, maxSize = 0;
  ASSERT_EQ(server_->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSubscriptionMgt, unknown.Put(), &buffer,
                                             &maxSize),
            S_OK);
  ASSERT_EQ(unknown.As(IID_IOPCEventSubscriptionMgt, subscription_), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(subscription_.As(IID_IConnectionPointContainer, container), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCEventSink, point.Put()), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IOPCEventSink*>(events_.Get()), &cookie), S_OK);

  // The first cycle reports every item: each source's message is set.
  Tick();
  ASSERT_TRUE(events_->WaitForSources(static_cast<size_t>(g_SourceCache.NumberOfSources())));
}

void EndToEndTest::TearDown() {
  subscription_.Reset();
  server_.Reset();
  if (core_) core_->Stop();
  core_.reset();
  g_pAlarmLog = nullptr;
  log_.reset();
  if (control_) control_->ClearFailures();
  control_.Reset();
  controlServer_.Reset();
}

void EndToEndTest::Tick() { ASSERT_EQ(control_->TickUpdates(), S_OK); }

void EndToEndTest::Scan(DWORD ms) {
  ASSERT_EQ(control_->AdvanceClock(ms), S_OK);
  Tick();
}

HRESULT EndToEndTest::Acknowledge(const ONEVENTSTRUCT& event, const std::string& who) {
  std::vector<HRESULT> errors;
  HRESULT hr = server_->AckCondition(1, who, "seen", &event.szSource, &event.szConditionName, &event.ftActiveTime,
                                     &event.dwCookie, &errors);
  return hr == S_OK && errors.size() == 1 ? errors[0] : hr;
}

OPCCONDITIONSTATE EndToEndTest::State(const std::string& source, const std::string& condition) {
  OPCCONDITIONSTATE state;
  EXPECT_EQ(server_->GetConditionState(source, condition, 0, nullptr, &state), S_OK) << source;
  return state;
}

std::vector<RaltoFcWrite> EndToEndTest::FcWrites() {
  std::vector<RaltoFcWrite> writes;
  EXPECT_EQ(control_->GetFcWrites(&writes), S_OK);
  return writes;
}

std::vector<AckRecord> EndToEndTest::LogRecords() {
  std::vector<AckRecord> records;
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  ReadLogRecords(logDir_, LogFilter{}, records, *progress.Get());
  return records;
}

void EndToEndTest::EditDocument(const std::string& name, const std::string& from, const std::string& to) {
  std::string path = plantDir_ + "/" + name;
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
  std::ofstream(path + ".tmp", std::ios::binary) << text;
  fs::rename(path + ".tmp", path);
}

ONEVENTSTRUCT EndToEndTest::Event(const std::string& source, const std::function<bool(const ONEVENTSTRUCT&)>& match,
                                  size_t from) {
  ONEVENTSTRUCT event;
  EXPECT_TRUE(events_->WaitFor(source, match, event, from)) << "no such event of " << source;
  return event;
}
