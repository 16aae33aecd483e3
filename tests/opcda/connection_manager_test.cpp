// The connection manager against the simulated Ralto OPC DA server: its
// settings, the connect pass and its outcomes, disconnecting, the binding
// thread's ticks and the acknowledgement write-back.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include <future>

#include "alarmconfig/derived_source.h"
#include "alarmconfig/tracked_mutex.h"
#include "opc_client_fixture.h"
#include "opcda/alarm_requests.h"
#include "platform/registry.h"
#include "tests/support/debug_capture.h"
#include "tests/support/eventually.h"
#include "toolkit/condition.h"
#include "toolkit/source_cache.h"

namespace {

constexpr char kItem0[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0";
constexpr char kLevel[] = "Plant/Tanks/N1_LIC1.A";
constexpr char kRate[] = "Plant/Tanks/N1_LIC1.ROC";

class ConnectionManagerTest : public OpcClientTest {
 protected:
  void TearDown() override {
    manager_.Disconnect();
    OpcClientTest::TearDown();
  }
  // Connect, and wait for the pass to decide.
  int32_t ConnectAndWait(ConnectionManager& manager) {
    manager.Connect();
    EXPECT_TRUE(Eventually([&] { return manager.connectionState != ConnectionManager::kConnecting; }));
    return manager.connectionState;
  }
  CDerivedSource* Derived(const char* name) { return dynamic_cast<CDerivedSource*>(g_SourceCache.GetSource(name)); }
  // The condition active since `time`, as the alarm processor leaves it.
  // Activated and acknowledged by a client, as a condition reaches the write-back.
  CAECondition* Activated(const char* source, const char* condition, const char* subcondition, FILETIME time,
                          BYTE flags) {
    CAECondition* c = g_SourceCache.GetSource(source)->GetCondition(condition);
    EXPECT_EQ(c->Activate(subcondition, "alarm", true, &time), S_OK);
    EXPECT_EQ(c->AcknowledgeByClient("operator", "", time, c->Cookie()), S_OK);
    Derived(source)->SetLastActiveTime(time);
    Derived(source)->SetStateFlags(flags);
    return c;
  }
  std::vector<RaltoFcWrite> FcWrites() {
    std::vector<RaltoFcWrite> writes;
    EXPECT_EQ(control_->GetFcWrites(&writes), S_OK);
    return writes;
  }
};

TEST_F(ConnectionManagerTest, Settings) {
  std::string name = "x";
  DWORD rate = 7;
  EXPECT_FALSE(ConnectionManager::ReadSettings(name, rate));
  EXPECT_EQ(name, "Brixham.RaltoOPC");
  EXPECT_EQ(rate, 1000u);

  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kItem0, "AlarnEventBindingRate", 1234), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kItem0, "ConfigServer_Verbose", 1), ERROR_SUCCESS);
  EXPECT_EQ(ConnectionManager().bindingRateMs, 1234u);
  EXPECT_TRUE(ConnectionManager::ReadSettings(name, rate));
  EXPECT_EQ(name, "") << "the key without a server name";
  EXPECT_EQ(rate, 1000u);

  ASSERT_TRUE(ConnectionManager::WriteSettings("Other.Server", 250));
  EXPECT_TRUE(ConnectionManager::ReadSettings(name, rate));
  EXPECT_EQ(name, "Other.Server");
  EXPECT_EQ(rate, 250u);
  // The key was replaced as a whole.
  DWORD value = 0;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kItem0, "AlarnEventBindingRate", value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, kItem0, "ConfigServer_Verbose", value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ConnectionManager().bindingRateMs, 60000u);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kItem0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<std::string> names;
  std::string valueName;
  for (DWORD i = 0; RegEnumValue(key, i, valueName, nullptr) == ERROR_SUCCESS; ++i) names.push_back(valueName);
  RegCloseKey(key);
  EXPECT_EQ(names, (std::vector<std::string>{"ServerName", "UpdateRatems"}));

  EXPECT_EQ(ConnectionManager::StateText(0), "Connected");
  EXPECT_EQ(ConnectionManager::StateText(2), "Not Connected");
  EXPECT_EQ(ConnectionManager::StateText(3), "Invalid Server");
  EXPECT_EQ(ConnectionManager::StateText(4), "Connecting...");
  EXPECT_EQ(ConnectionManager::StateText(1), "");
}

TEST_F(ConnectionManagerTest, AConnectPassThatSucceeds) {
  DWORD started = 0;
  int starts = 0;
  manager_.SetProcessorStarter([&](DWORD cookie) {
    started = cookie;
    ++starts;
    return true;
  });
  EXPECT_EQ(manager_.connectionState, ConnectionManager::kNotConnected);
  EXPECT_TRUE(manager_.IsIdle());
  {
    // Held, so that the pass waits and Connecting can be seen.
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    manager_.Connect();
    EXPECT_EQ(manager_.connectionState, ConnectionManager::kConnecting);
    EXPECT_FALSE(manager_.IsIdle());
    manager_.Connect();  // nothing while connecting
  }
  ASSERT_TRUE(Eventually([&] { return manager_.connectionState == ConnectionManager::kConnected; }));
  EXPECT_TRUE(manager_.IsIdle());
  EXPECT_EQ(manager_.lastSourceBuildResult, kSourceBuildOk);
  EXPECT_EQ(starts, 1);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    ASSERT_TRUE(manager_.client);
    EXPECT_EQ(started, client().syncIOCookie);
    EXPECT_EQ(client().active, 1);
    EXPECT_TRUE(GroupIsActive());
  }
  EXPECT_NE(g_SourceCache.GetSource(kLevel), nullptr);
  EXPECT_NE(manager_.FindVariable("N1.LIC1.FC"), nullptr);
  manager_.Connect();  // nothing while connected
  EXPECT_EQ(manager_.connectionState, ConnectionManager::kConnected);
  manager_.SetProcessorStarter({});
}

TEST_F(ConnectionManagerTest, ConnectPassesThatFail) {
  ASSERT_TRUE(ConnectionManager::WriteSettings("No.Such.Server", 1000));
  EXPECT_EQ(ConnectAndWait(manager_), ConnectionManager::kNotConnected);
  EXPECT_EQ(manager_.lastSourceBuildResult, kSourceBuildNotRun) << "no source build without a connection";
  ASSERT_TRUE(ConnectionManager::WriteSettings("", 1000));
  EXPECT_EQ(ConnectAndWait(manager_), ConnectionManager::kNotConnected);

  // A plant without any alarm block: no source to build.
  ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC", 1000));
  Write("ConfigurationSummary.xml", plantdoc::Summary({{"N1", "1"}}));
  Write("ProducedData_1.xml", plantdoc::ProducedData("N1", "100", "0", ""));
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);
  EXPECT_EQ(ConnectAndWait(manager_), ConnectionManager::kInvalidServer);
  EXPECT_EQ(manager_.lastSourceBuildResult, kSourceBuildNoEntries);
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  EXPECT_FALSE(manager_.client);
}

TEST_F(ConnectionManagerTest, DisconnectLeavesTheSourcesAtBadQuality) {
  ASSERT_EQ(ConnectAndWait(manager_), ConnectionManager::kConnected);
  CAESourcePtr source = g_SourceCache.FindSource(kLevel);
  ASSERT_TRUE(source);
  EXPECT_EQ(source->GetCondition("Level")->Quality(), 192);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    alarmRequests.Add(manager_.FindVariable("N1.LIC1.AS"));
    alarmRequests.Signal();
  }
  manager_.Disconnect();
  EXPECT_EQ(manager_.connectionState, ConnectionManager::kNotConnected);
  EXPECT_EQ(manager_.bindingState, ConnectionManager::kBindingIdle);
  EXPECT_EQ(alarmRequests.PendingCount(), 0u);
  EXPECT_FALSE(alarmRequests.readyEvent.IsSet());
  EXPECT_EQ(source->GetCondition("Level")->Quality(), 0);
  EXPECT_EQ(manager_.FindVariable("N1.LIC1.FC"), nullptr);
  // Reconnected: the same sources, good again.
  ASSERT_EQ(ConnectAndWait(manager_), ConnectionManager::kConnected);
  EXPECT_EQ(g_SourceCache.GetSource(kLevel), source.Get());
  EXPECT_EQ(source->GetCondition("Level")->Quality(), 192);
}

TEST_F(ConnectionManagerTest, BindingTicksBringNewBlocks) {
  ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC", 1000));
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kItem0, "AlarnEventBindingRate", 20), ERROR_SUCCESS);
  ConnectionManager manager;
  int starts = 0;
  manager.SetProcessorStarter([&](DWORD) { return ++starts > 0; });
  ASSERT_EQ(ConnectAndWait(manager), ConnectionManager::kConnected);

  WritePlant("101", plantdoc::AnalogBlock("LIC9", "Plant/New", "New %s", "New rate %s"));
  ASSERT_TRUE(Eventually([&] { return g_SourceCache.GetSource("Plant/New/N1_LIC9.A") != nullptr; }));
  ASSERT_TRUE(Eventually([&] {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    AlarmVar* v = manager.FindVariable("N1.LIC9.AS");
    return v && v->serverHandle != 0 && manager.bindingState == ConnectionManager::kBindingIdle &&
           manager.client->active == 1;
  }));
  EXPECT_GE(starts, 2);

  // Failing ticks keep the connection and try again.
  ASSERT_EQ(control_->FailCall(RALTO_CALL_ADDITEMS, E_FAIL, 0, 0), S_OK);
  WritePlant("102", plantdoc::AnalogBlock("LIC9", "Plant/New", "New %s", "New rate %s") +
                        plantdoc::AnalogBlock("LIC10", "Plant/New", "New %s", "New rate %s"));
  ASSERT_TRUE(Eventually([&] { return manager.bindingState == ConnectionManager::kBindingFailed; }));
  EXPECT_EQ(manager.connectionState, ConnectionManager::kConnected);
  ASSERT_EQ(control_->ClearFailures(), S_OK);
  WritePlant("103");  // LIC9 goes
  ASSERT_TRUE(Eventually([&] {
    return manager.bindingState == ConnectionManager::kBindingIdle &&
           g_SourceCache.GetSource("Plant/New/N1_LIC9.A") == nullptr;
  }));

  manager.bindingStopEvent.Set();
  EXPECT_TRUE(manager.bindingDoneEvent.Wait(20'000));
  manager.SetProcessorStarter({});
}

// A binding tick already under way when Disconnect ran (it looked at the
// state, then waited for the lock) builds nothing: no live connection
// behind "Not Connected".
TEST_F(ConnectionManagerTest, ATickOvertakenByDisconnectBuildsNothing) {
  ASSERT_TRUE(ConnectionManager::WriteSettings("Brixham.RaltoOPC", 1000));
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kItem0, "AlarnEventBindingRate", 20), ERROR_SUCCESS);
  ConnectionManager manager;
  ASSERT_EQ(ConnectAndWait(manager), ConnectionManager::kConnected);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    ASSERT_TRUE(Eventually([&] { return manager.bindingState == ConnectionManager::kBindingRunning; }));
    manager.Disconnect();
  }
  manager.bindingStopEvent.Set();
  ASSERT_TRUE(manager.bindingDoneEvent.Wait(20'000));
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  EXPECT_EQ(manager.client, nullptr);
  EXPECT_EQ(manager.connectionState, ConnectionManager::kNotConnected);
  EXPECT_EQ(manager.bindingState, ConnectionManager::kBindingIdle);
}

TEST_F(ConnectionManagerTest, AcknowledgementsWrittenBack) {
  ASSERT_EQ(ConnectAndWait(manager_), ConnectionManager::kConnected);
  CAECondition* level = Activated(kLevel, "Level", "HiHi", Uint64ToFileTime(133'618'824'000'000'000), 0x21);
  std::string text;
  EXPECT_EQ(manager_.WriteAcknowledgement(level, Derived(kLevel), text), S_OK);
  EXPECT_EQ(text, "Success");
  CAECondition* rate = Activated(kRate, "RoC", "RoCU", Uint64ToFileTime(133'618'824'010'000'000), 0x03);
  EXPECT_EQ(manager_.WriteAcknowledgement(rate, Derived(kRate), text), S_OK);
  EXPECT_EQ(text, "Success");
  std::vector<RaltoFcWrite> writes = FcWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].itemId, "N1.LIC1.FC");
  EXPECT_EQ(writes[0].value, 0x2101);
  EXPECT_EQ(writes[1].itemId, "N1.LIC1.FC");
  EXPECT_EQ(writes[1].value, 0x0302);

  // The server's activation time is not the one acknowledged: nothing written.
  Derived(kLevel)->SetLastActiveTime(FILETIME());
  text.clear();
  EXPECT_EQ(manager_.WriteAcknowledgement(level, Derived(kLevel), text), S_OK);
  EXPECT_EQ(text.rfind("Error: Existing activation time () does not match incoming time (", 0), 0u) << text;
  EXPECT_NE(text.find(":00"), std::string::npos) << text;
  EXPECT_EQ(FcWrites().size(), 2u);

  // The server's own write failing.
  Derived(kLevel)->SetLastActiveTime(level->SubconditionLastActiveTime());
  ASSERT_EQ(control_->FailCall(RALTO_CALL_WRITE, E_FAIL, 0, 1), S_OK);
  EXPECT_EQ(manager_.WriteAcknowledgement(level, Derived(kLevel), text), E_FAIL);
  EXPECT_EQ(text, "Error: OPC Write failed: Result 0x80004005, Error 0x00000000");

  // Without an alarm variable, or bad arguments.
  text.clear();
  Derived(kLevel)->SetVariable(nullptr);
  EXPECT_EQ(manager_.WriteAcknowledgement(level, Derived(kLevel), text), E_FAIL);
  EXPECT_EQ(text, "");
  EXPECT_EQ(manager_.WriteAcknowledgement(nullptr, Derived(kLevel), text), E_INVALIDARG);
  EXPECT_EQ(manager_.WriteAcknowledgement(level, nullptr, text), E_INVALIDARG);

  manager_.Disconnect();
  EXPECT_EQ(manager_.WriteAcknowledgement(rate, Derived(kRate), text), 1);
  EXPECT_EQ(text, "Error: Not Connected to Ralto Stewardry Edition OPC Server");
}

TEST_F(ConnectionManagerTest, AnAcknowledgementWordWithoutItsItem) {
  // A block published without its ".FC" member.
  WritePlant("100",
             "<BlockStructure Name=\"LS5\">\n"
             "  <BlockSubElement Name=\"LS5.AS\" BlockType=\"O0D\"/>\n"
             "  <BlockSubElement Name=\"LS5.LP\" BlockType=\"O0D\" InitValue=\"2\"/>\n"
             "  <Area Data=\"Plant/Tanks\"/><Message Data=\"Switch\"/>\n"
             "</BlockStructure>\n");
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);
  ASSERT_EQ(ConnectAndWait(manager_), ConnectionManager::kConnected);
  CAECondition* bit = Activated("Plant/Tanks/N1_LS5.Bit", "Bit", "Bit", Uint64ToFileTime(133'618'824'000'000'000), 1);
  std::string text;
  EXPECT_EQ(manager_.WriteAcknowledgement(bit, Derived("Plant/Tanks/N1_LS5.Bit"), text), S_OK);
  EXPECT_EQ(text, "Error: Couldn't find variable N1.LS5.FC");
  EXPECT_TRUE(FcWrites().empty());
}

TEST_F(ConnectionManagerTest, DestroyedWhileConnecting) {
  auto manager = std::make_unique<ConnectionManager>();
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    g_pConnectionManager = manager.get();
  }
  manager->Connect();
  manager.reset();  // waits for the pass, then disconnects
  EXPECT_EQ(g_pConnectionManager, nullptr);
  EXPECT_EQ(g_SourceCache.GetSource(kLevel) ? g_SourceCache.GetSource(kLevel)->GetCondition("Level")->Quality() : 0,
            0);
}

// Exit with a connect pass stuck in a server call that does not return:
// the destructor ends within its limit and leaves the pass behind with its
// client; when the call returns the pass ends alone and lets the lock go.
TEST_F(ConnectionManagerTest, DestroyedWhileAConnectHangsEndsWithinItsLimit) {
  ASSERT_EQ(control_->HangCall(RALTO_CALL_ADDITEMS), S_OK);
  auto manager = std::make_unique<ConnectionManager>(50);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    g_pConnectionManager = manager.get();
  }
  manager->Connect();
  DWORD hung = 0;
  ASSERT_TRUE(Eventually([&] { return SUCCEEDED(control_->GetHungCallers(&hung)) && hung == 1; }));
  {
    ScopedDebugCapture debug;
    manager.reset();
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Terminating Connect Thread"});
  }
  EXPECT_EQ(g_pConnectionManager, nullptr);

  ASSERT_EQ(control_->ClearFailures(), S_OK);
  auto locked = std::async(std::launch::async, [] { TrackedMutexGuard guard(g_ConfigMutex, AE_SITE); });
  EXPECT_EQ(locked.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

}  // namespace
