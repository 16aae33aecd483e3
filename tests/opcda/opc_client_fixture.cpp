#include "opc_client_fixture.h"

#include <fstream>
#include <iterator>

#include "alarmconfig/tracked_mutex.h"
#include "platform/class_factory.h"
#include "platform/global_interface_table.h"
#include "ralto/opc_server.h"
#include "tests/support/plugin_registration.h"

void OpcClientTest::SetUp() {
  ImportTest::SetUp();
  if (HasFatalFailure()) return;
  WritePlant();

  std::string error;
  ASSERT_EQ(RegisterPlugin(RALTO_OPC_LIBRARY, &error), S_OK) << error;

  if (!g_pGlobalInterfaceTable) {
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&g_pGlobalInterfaceTable)),
              S_OK);
  }
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kRaltoOpcProgId, &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer_.PutVoid()),
            S_OK);
  ASSERT_EQ(controlServer_.As(IID_IRaltoOpcControl, control_), S_OK);
  ASSERT_EQ(control_->SetManualUpdates(true), S_OK);
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);
}

void OpcClientTest::TearDown() {
  if (control_) control_->ClearFailures();
  Disconnect();
  control_.Reset();
  controlServer_.Reset();
  ImportTest::TearDown();
}

void OpcClientTest::WritePlant(const std::string& n1Secs, const std::string& n1Extra) {
  using namespace plantdoc;
  Write("ConfigurationSummary.xml", Summary({{"N1", "1"}, {"N2", "2"}}));
  Write("ProducedData_1.xml",
        ProducedData("N1", n1Secs, "0",
                     AnalogBlock("LIC1", "Plant/Tanks", "Level %s", "Level rate %s") +
                         DigitalBlock("LS2", "Plant/Tanks", "Switch %s") + n1Extra));
  Write("ProducedData_2.xml", ProducedData("N2", "200", "0", AnalogBlock("TIC3", "Plant/Heat", "Temp %s", "Rate %s")));
}

HRESULT OpcClientTest::ConnectFresh(const std::string& progId) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  manager_.client = std::make_unique<C_OPC_DA_Client>();
  return manager_.client->ConnectFresh(progId, 1000);
}

HRESULT OpcClientTest::ConnectOrRefresh() {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  if (!manager_.client) manager_.client = std::make_unique<C_OPC_DA_Client>();
  return manager_.client->ConnectOrRefresh(kRaltoOpcProgId, 1000);
}

void OpcClientTest::Activate() {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  auto groupState = FromTable<IOPCGroupStateMgt>(client().groupStateCookie, IID_IOPCGroupStateMgt);
  ASSERT_TRUE(groupState);
  DWORD revised = 0;
  BOOL active = true;
  OPCHANDLE clientGroup = client().serverGroup;
  ASSERT_EQ(groupState->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, &clientGroup), S_OK);
  client().active = 1;
}

void OpcClientTest::Disconnect() {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  if (manager_.client) manager_.client->active = 0;
  manager_.client.reset();
}

AlarmVar& OpcClientTest::Variable(const std::string& itemId) {
  AlarmVar* variable = client().FindVariable(itemId);
  EXPECT_NE(variable, nullptr) << itemId;
  static AlarmVar none;
  return variable ? *variable : none;
}

bool OpcClientTest::GroupIsActive() {
  auto groupState = FromTable<IOPCGroupStateMgt>(client().groupStateCookie, IID_IOPCGroupStateMgt);
  if (!groupState) return false;
  DWORD rate = 0;
  BOOL active = false;
  char* name = nullptr;
  LONG bias = 0;
  float deadband = 0;
  DWORD locale = 0;
  OPCHANDLE clientGroup = 0, serverGroup = 0;
  EXPECT_EQ(groupState->GetState(&rate, &active, &name, &bias, &deadband, &locale, &clientGroup, &serverGroup),
            S_OK);
  CoTaskMemFree(name);
  return active != false;
}

DWORD OpcClientTest::GroupCount() {
  auto server = FromTable<IOPCServer>(client().serverCookie, IID_IOPCServer);
  if (!server) return 0;
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), S_OK);
  DWORD count = status ? status->dwGroupCount : 0;
  OpcFreeServerStatus(status);
  return count;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
