// C_OPC_DA_Client against the simulated Ralto OPC DA server: fresh
// connections, binding-tick refreshes, the browse-and-retry of rejected
// items, the global interface table, the disconnect sequence, the alarm
// block list and the verbose report, with the server's faults.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "alarmconfig/tracked_mutex.h"
#include "opc_client_fixture.h"
#include "opcda/alarm_requests.h"
#include "platform/class_factory.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "ralto/config_control.h"
#include "ralto/config_server.h"

namespace {

namespace fs = std::filesystem;

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";
constexpr char kConfigKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0";
constexpr HRESULT kInjected = static_cast<HRESULT>(0x80041234);

using ConnectTest = OpcClientTest;

// Reads one item's value from the server's cache through the client's cookie.
HRESULT ReadFromCache(DWORD cookie, OPCHANDLE serverHandle, HRESULT* itemError) {
  ComPtr<IOPCSyncIO> io;
  HRESULT hr = g_pGlobalInterfaceTable->GetInterfaceFromGlobal(cookie, IID_IOPCSyncIO, io.PutVoid());
  if (FAILED(hr)) return hr;
  COpcTaskArray<OPCITEMSTATE> states(1);
  COpcTaskArray<HRESULT> errors(1);
  hr = io->Read(OPC_DS_CACHE, 1, &serverHandle, states.Put(), errors.Put());
  *itemError = errors ? errors[0] : hr;
  return hr;
}

TEST_F(ConnectTest, FreshConnectionAddsOneItemPerVariableExceptPriorities) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  const C_OPC_DA_Client& c = client();
  ASSERT_EQ(c.itemMap.size(), kTestVariables);
  EXPECT_EQ(c.handleMap.size(), kTestItems);
  EXPECT_EQ(c.reverseHandleMap.size(), kTestItems);
  EXPECT_EQ(c.lastClientHandle, kTestItems);
  std::set<OPCHANDLE> serverHandles;
  for (const auto& [id, variable] : c.itemMap) {
    auto reverse = c.reverseHandleMap.find(&variable);
    if (variable.KindSuffix() == ".LP") {
      EXPECT_EQ(variable.serverHandle, 0u) << id;
      EXPECT_EQ(reverse, c.reverseHandleMap.end()) << id;
      continue;
    }
    EXPECT_NE(variable.serverHandle, 0u) << id;
    serverHandles.insert(variable.serverHandle);
    ASSERT_NE(reverse, c.reverseHandleMap.end()) << id;
    EXPECT_GE(reverse->second, 1u);
    EXPECT_LE(reverse->second, kTestItems);
    EXPECT_EQ(c.FindVariableByHandle(reverse->second), &variable);
  }
  EXPECT_EQ(serverHandles.size(), kTestItems);
  EXPECT_EQ(c.FindVariableByHandle(0), nullptr);
  EXPECT_EQ(c.FindVariableByHandle(kTestItems + 1), nullptr);

  // The group is there, inactive until the connection manager activates it,
  // and every interface is in the table.
  EXPECT_NE(c.serverGroup, 0u);
  EXPECT_EQ(c.active, 0);
  EXPECT_EQ(GroupCount(), 1u);
  EXPECT_FALSE(GroupIsActive());
  for (DWORD cookie : {c.syncIOCookie, c.groupStateCookie, c.connectionPointCookie, c.serverCookie, c.itemMgtCookie})
    EXPECT_NE(cookie, 0u);
  EXPECT_TRUE(FromTable<IConnectionPoint>(c.connectionPointCookie, IID_IConnectionPoint));
  EXPECT_TRUE(FromTable<IOPCItemMgt>(c.itemMgtCookie, IID_IOPCItemMgt));
  HRESULT itemError = E_FAIL;
  EXPECT_EQ(ReadFromCache(c.syncIOCookie, Variable("N1.LIC1.AS").serverHandle, &itemError), S_OK);
  EXPECT_EQ(itemError, S_OK);
}

TEST_F(ConnectTest, UnknownOrEmptyProgIdIsTheClassStringError) {
  for (const char* progId : {"No.Such.Server", "", "Back\\slash"}) {
    EXPECT_EQ(ConnectFresh(progId), CO_E_CLASSSTRING) << progId;
    EXPECT_EQ(client().serverGroup, 0u);
    EXPECT_TRUE(client().itemMap.empty());
    EXPECT_EQ(client().serverCookie, 0u);
  }
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  EXPECT_EQ(manager_.client->ConnectOrRefresh("No.Such.Server", 1000), CO_E_CLASSSTRING);
}

TEST_F(ConnectTest, WithoutTheGlobalInterfaceTableNothingIsDone) {
  std::string dump = dir_ + "/blocks.txt";
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmDumpFile", dump), ERROR_SUCCESS);
  IGlobalInterfaceTable* table = g_pGlobalInterfaceTable;
  g_pGlobalInterfaceTable = nullptr;
  EXPECT_EQ(ConnectFresh(), E_FAIL);
  EXPECT_EQ(ConnectOrRefresh(), E_FAIL);
  EXPECT_TRUE(client().itemMap.empty());
  EXPECT_EQ(client().serverGroup, 0u);
  EXPECT_FALSE(fs::exists(dump));
  Disconnect();
  g_pGlobalInterfaceTable = table;
}

// A server call that fails during the connect: its HRESULT comes back and no
// group is left behind.
struct InjectedCall {
  RaltoOpcCall call;
  const char* name;
};

class ConnectFaultTest : public OpcClientTest, public testing::WithParamInterface<InjectedCall> {};

TEST_P(ConnectFaultTest, FailingServerCallFailsTheConnect) {
  ASSERT_EQ(control_->FailCall(GetParam().call, kInjected, 0, 0), S_OK);
  EXPECT_EQ(ConnectFresh(), kInjected);
  EXPECT_EQ(client().serverGroup, 0u);
  EXPECT_EQ(client().serverCookie, 0u);
  EXPECT_EQ(client().syncIOCookie, 0u);
  Disconnect();
  ASSERT_EQ(ConnectOrRefresh(), kInjected);
  EXPECT_EQ(client().serverGroup, 0u);
}

INSTANTIATE_TEST_SUITE_P(Calls, ConnectFaultTest,
                         testing::Values(InjectedCall{RALTO_CALL_CREATEINSTANCE, "CreateInstance"},
                                         InjectedCall{RALTO_CALL_ADDGROUP, "AddGroup"},
                                         InjectedCall{RALTO_CALL_FINDCONNECTIONPOINT, "FindConnectionPoint"},
                                         InjectedCall{RALTO_CALL_ADVISE, "Advise"},
                                         InjectedCall{RALTO_CALL_ADDITEMS, "AddItems"}),
                         [](const testing::TestParamInfo<InjectedCall>& info) { return info.param.name; });

TEST_F(ConnectTest, AFailingItemRemovesItsHandleAndTheGroup) {
  ASSERT_EQ(control_->FailCall(RALTO_CALL_ADDITEMS, kInjected, 5, 1), S_OK);
  EXPECT_EQ(ConnectFresh(), kInjected);
  EXPECT_EQ(client().serverGroup, 0u);
  // Five items were added before the sixth failed; its handle went again.
  EXPECT_EQ(client().handleMap.size(), 5u);
  EXPECT_EQ(client().reverseHandleMap.size(), 5u);
  EXPECT_EQ(client().FindVariableByHandle(6), nullptr);
}

TEST_F(ConnectTest, AMissingGroupInterfaceFailsTheConnect) {
  for (const IID* iid : {&IID_IOPCSyncIO, &IID_IOPCGroupStateMgt, &IID_IConnectionPointContainer}) {
    ASSERT_EQ(control_->HideInterface(*iid), S_OK);
    EXPECT_EQ(ConnectFresh(), E_NOINTERFACE);
    EXPECT_EQ(client().serverGroup, 0u);
    ASSERT_EQ(control_->ClearFailures(), S_OK);
  }
}

TEST_F(ConnectTest, WithoutBrowsingARejectedItemStaysWithoutHandle) {
  ASSERT_EQ(control_->HideInterface(IID_IOPCBrowseServerAddressSpace), S_OK);
  ASSERT_EQ(control_->RejectItem("N1.LIC1.AS"), S_OK);
  ASSERT_EQ(ConnectFresh(), S_OK);
  EXPECT_EQ(Variable("N1.LIC1.AS").serverHandle, 0u);
  EXPECT_NE(Variable("N1.LIC1.RS").serverHandle, 0u);
  // It keeps its client handle: it stays known, it just never gets values.
  EXPECT_EQ(client().handleMap.size(), kTestItems);
}

TEST_F(ConnectTest, ARejectedItemIsAcceptedAfterTheBrowse) {
  // The browse before the items fails, so the rejection is still on when
  // the item is added; the retry's browse ends it.
  ASSERT_EQ(control_->FailCall(RALTO_CALL_BROWSEOPCITEMIDS, kInjected, 0, 1), S_OK);
  ASSERT_EQ(control_->RejectItem("N1.LIC1.AS"), S_OK);
  ASSERT_EQ(ConnectFresh(), S_OK);
  EXPECT_NE(Variable("N1.LIC1.AS").serverHandle, 0u);
  for (const auto& [id, variable] : client().itemMap) {
    if (variable.KindSuffix() != ".LP") {
      EXPECT_NE(variable.serverHandle, 0u) << id;
    }
  }
}

TEST_F(ConnectTest, OnlyTheFirstRejectedItemOfARunIsRetried) {
  // The simulated server serves a plant without LS2: its six items stay
  // unknown whatever the browse does.
  std::string serverPlant = dir_ + "/server";
  fs::create_directories(serverPlant);
  using namespace plantdoc;
  std::ofstream(serverPlant + "/ConfigurationSummary.xml") << Summary({{"N1", "1"}, {"N2", "2"}});
  std::ofstream(serverPlant + "/ProducedData_1.xml")
      << ProducedData("N1", "100", "0", AnalogBlock("LIC1", "Plant/Tanks", "Level %s", "Level rate %s"));
  std::ofstream(serverPlant + "/ProducedData_2.xml")
      << ProducedData("N2", "200", "0", AnalogBlock("TIC3", "Plant/Heat", "Temp %s", "Rate %s"));
  ASSERT_EQ(control_->SetDocumentDirectory(serverPlant), S_OK);
  // One AddItems per item and one retry: a further call would fail.
  ASSERT_EQ(control_->FailCall(RALTO_CALL_ADDITEMS, kInjected, kTestItems + 1, 0), S_OK);
  ASSERT_EQ(ConnectFresh(), S_OK);
  for (const char* id : {"N1.LS2.AS", "N1.LS2.AS[1]", "N1.LS2.AS[4]", "N1.LS2.FC"})
    EXPECT_EQ(Variable(id).serverHandle, 0u) << id;
  EXPECT_NE(Variable("N1.LIC1.AS").serverHandle, 0u);
  EXPECT_EQ(client().handleMap.size(), kTestItems);
}

TEST_F(ConnectTest, TheRetryCountsOnceMore) {
  // The same plant, one call fewer allowed: the retry is really made.
  std::string serverPlant = dir_ + "/server";
  fs::create_directories(serverPlant);
  using namespace plantdoc;
  std::ofstream(serverPlant + "/ConfigurationSummary.xml") << Summary({{"N1", "1"}});
  std::ofstream(serverPlant + "/ProducedData_1.xml")
      << ProducedData("N1", "100", "0", AnalogBlock("LIC1", "Plant/Tanks", "Level %s", "Level rate %s"));
  ASSERT_EQ(control_->SetDocumentDirectory(serverPlant), S_OK);
  ASSERT_EQ(control_->FailCall(RALTO_CALL_ADDITEMS, kInjected, kTestItems, 0), S_OK);
  EXPECT_EQ(ConnectFresh(), kInjected);
}

TEST_F(ConnectTest, AlarmBlockListIsWrittenOnAFreshConnection) {
  std::string dump = dir_ + "/blocks.txt";
  std::ofstream(dump) << "old contents that are longer than the list itself, to be sure it is emptied";
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmDumpFile", dump), ERROR_SUCCESS);
  ASSERT_EQ(ConnectFresh(), S_OK);
  std::string bytes = ReadFileBytes(dump);
  ASSERT_FALSE(bytes.empty());
  EXPECT_NE(static_cast<unsigned char>(bytes[0]), 0xFF) << "no byte-order mark";
  std::string text = Utf16LeToUtf8(bytes);
  std::multiset<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.insert(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every line ends in \\n";
  EXPECT_EQ(lines, (std::multiset<std::string>{"N1.LIC1", "N1.LS2", "N2.TIC3"}));
}

TEST_F(ConnectTest, AlarmBlockListIsRewrittenWhenTheImportFails) {
  std::string dump = dir_ + "/blocks.txt";
  std::ofstream(dump) << "old";
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmDumpFile", dump), ERROR_SUCCESS);
  // With the window shown a producer that does not parse ends the import,
  // after the first producer was imported.
  g_bInteractive = 1;
  Write("ProducedData_2.xml", "<ProducedData");
  HRESULT hr = ConnectFresh();
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(client().serverGroup, 0u);
  EXPECT_EQ(client().serverCookie, 0u);
  EXPECT_TRUE(client().handleMap.empty());
  std::string text = Utf16LeToUtf8(ReadFileBytes(dump));
  EXPECT_NE(text.find("N1.LIC1\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("old"), std::string::npos);
}

TEST_F(ConnectTest, AnUnwritableAlarmBlockListDoesNotStopTheConnect) {
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, "AlarmDumpFile", dir_ + "/missing/blocks.txt"),
            ERROR_SUCCESS);
  EXPECT_EQ(ConnectFresh(), S_OK);
  EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

TEST_F(ConnectTest, DisconnectRemovesItemsGroupAndCookies) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  auto server = FromTable<IOPCServer>(client().serverCookie, IID_IOPCServer);
  auto io = FromTable<IOPCSyncIO>(client().syncIOCookie, IID_IOPCSyncIO);
  OPCHANDLE handle = Variable("N1.LIC1.AS").serverHandle;
  std::vector<DWORD> cookies = {client().syncIOCookie, client().groupStateCookie, client().connectionPointCookie,
                                client().serverCookie, client().itemMgtCookie};
  Disconnect();

  for (DWORD cookie : cookies) {
    ComPtr<IUnknown> gone;
    EXPECT_EQ(g_pGlobalInterfaceTable->GetInterfaceFromGlobal(cookie, IID_IUnknown, gone.PutVoid()), E_INVALIDARG);
  }
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwGroupCount, 0u);
  OpcFreeServerStatus(status);
  // The items went before the group did.
  COpcTaskArray<OPCITEMSTATE> states(1);
  COpcTaskArray<HRESULT> errors(1);
  HRESULT hr = io->Read(OPC_DS_CACHE, 1, &handle, states.Put(), errors.Put());
  EXPECT_TRUE(FAILED(hr) || errors[0] == OPC_E_INVALIDHANDLE) << std::hex << hr;
}

TEST_F(ConnectTest, DisconnectDropsTheClientsQueuedChanges) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  AlarmVar other;
  alarmRequests.Add(&Variable("N1.LIC1.AS"));
  alarmRequests.Add(&other);
  alarmRequests.Add(&Variable("N2.TIC3.RS"));
  Disconnect();
  std::vector<AlarmVar*> taken;
  ASSERT_EQ(alarmRequests.TakeAll(&taken), 1);
  EXPECT_EQ(taken, std::vector<AlarmVar*>{&other});
}

// ---- Binding ticks ----------------------------------------------------------

TEST_F(ConnectTest, RefreshAddsTheNewVariablesToAnInactiveGroup) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  ASSERT_TRUE(GroupIsActive());
  DWORD syncIOCookie = client().syncIOCookie;
  OPCHANDLE lic1 = Variable("N1.LIC1.AS").serverHandle;
  WritePlant("101", plantdoc::DigitalBlock("LS9", "Plant/Tanks", "New %s"));
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);

  ASSERT_EQ(ConnectOrRefresh(), S_OK);
  EXPECT_TRUE(client().pendingMap.empty());
  EXPECT_FALSE(GroupIsActive()) << "the connection manager activates it again";
  EXPECT_EQ(client().syncIOCookie, syncIOCookie);
  EXPECT_EQ(Variable("N1.LIC1.AS").serverHandle, lic1);
  EXPECT_EQ(client().handleMap.size(), kTestItems + 6);
  EXPECT_EQ(client().lastClientHandle, kTestItems + 6);
  for (const char* id : {"N1.LS9.AS", "N1.LS9.AS[2]", "N1.LS9.FC"}) {
    AlarmVar& variable = Variable(id);
    EXPECT_NE(variable.serverHandle, 0u) << id;
    auto handle = client().reverseHandleMap.find(&variable);
    ASSERT_NE(handle, client().reverseHandleMap.end()) << id;
    EXPECT_GT(handle->second, kTestItems);
  }
  EXPECT_EQ(Variable("N1.LS9.LP").serverHandle, 0u);
}

TEST_F(ConnectTest, RefreshRemovesVanishedVariablesFromServerAndQueue) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  OPCHANDLE gone = Variable("N1.LS2.AS").serverHandle;
  AlarmVar* kept = &Variable("N1.LIC1.AS");
  alarmRequests.Add(&Variable("N1.LS2.AS"));
  alarmRequests.Add(kept);
  alarmRequests.Add(&Variable("N1.LS2.AS[3]"));
  using namespace plantdoc;
  Write("ProducedData_1.xml",
        ProducedData("N1", "102", "0", AnalogBlock("LIC1", "Plant/Tanks", "Level %s", "Level rate %s")));

  ASSERT_EQ(ConnectOrRefresh(), S_OK);
  EXPECT_EQ(client().FindVariable("N1.LS2.AS"), nullptr);
  EXPECT_EQ(client().handleMap.size(), kTestItems - 6);
  std::vector<AlarmVar*> taken;
  alarmRequests.TakeAll(&taken);
  EXPECT_EQ(taken, std::vector<AlarmVar*>{kept});
  HRESULT itemError = S_OK;
  ReadFromCache(client().syncIOCookie, gone, &itemError);
  EXPECT_EQ(itemError, OPC_E_INVALIDHANDLE);
}

TEST_F(ConnectTest, RefreshWithoutChangesLeavesTheGroupActive) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  ASSERT_EQ(ConnectOrRefresh(), S_OK);
  EXPECT_TRUE(GroupIsActive());
  EXPECT_EQ(client().handleMap.size(), kTestItems);
}

TEST_F(ConnectTest, RefreshWhileTheConfigurationIsEditedKeepsTheConnection) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigServer_Verbose", 1), ERROR_SUCCESS);
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  WritePlant("101", plantdoc::DigitalBlock("LS9", "Plant/Tanks", "New %s"));
  Write(kRaltoEditLockFileName, "");

  ASSERT_EQ(ConnectOrRefresh(), S_OK);
  EXPECT_NE(client().serverGroup, 0u);
  EXPECT_TRUE(GroupIsActive());
  EXPECT_EQ(client().FindVariable("N1.LS9.AS"), nullptr);
  EXPECT_EQ(client().handleMap.size(), kTestItems);
  EXPECT_TRUE(messages_.boxes.empty());
}

TEST_F(ConnectTest, RefreshThatFailsOtherwiseRemovesTheGroupAndReports) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigServer_Verbose", 1), ERROR_SUCCESS);
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  ComPtr<IRaltoConfigServerControl> config;
  {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(kRaltoConfigServerProgId, &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IRaltoConfigServerControl,
                               config.PutVoid()),
              S_OK);
  }
  ASSERT_EQ(config->FailDocument(RALTO_DOC_CONFIGURATION_SUMMARY, RALTO_SUMMARY_ID, E_ACCESSDENIED), S_OK);

  EXPECT_EQ(ConnectOrRefresh(), E_ACCESSDENIED);
  EXPECT_EQ(client().serverGroup, 0u);
  EXPECT_EQ(client().serverCookie, 0u);  // nothing of the removed group stays in the table
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].first,
            "QRX 2.00 Verbose Reporting\n\n Please inform Veltro Technical support of this error number:"
            "[-2147024891]");
  EXPECT_EQ(messages_.boxes[0].second, MessageBoxIcon::Exclamation);

  // The next refresh builds a new group holding every item again.
  config->ClearFailures();
  EXPECT_EQ(ConnectOrRefresh(), S_OK);
  EXPECT_NE(client().serverGroup, 0u);
  EXPECT_EQ(GroupCount(), 1u);
  EXPECT_TRUE(client().pendingMap.empty());
  for (const auto& [id, variable] : client().itemMap) {
    if (variable.KindSuffix() == ".LP") continue;
    EXPECT_NE(variable.serverHandle, 0u) << id;
  }
}

TEST_F(ConnectTest, VerboseReportNeedsTheSwitch) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  ComPtr<IRaltoConfigServerControl> config;
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kRaltoConfigServerProgId, &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IRaltoConfigServerControl, config.PutVoid()),
            S_OK);
  ASSERT_EQ(config->FailDocument(RALTO_DOC_CONFIGURATION_SUMMARY, RALTO_SUMMARY_ID, E_ACCESSDENIED), S_OK);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigServer_Verbose", 0), ERROR_SUCCESS);
  EXPECT_EQ(ConnectOrRefresh(), E_ACCESSDENIED);
  EXPECT_TRUE(messages_.boxes.empty());
  config->ClearFailures();
}

TEST_F(ConnectTest, RefreshOfANewClientConnectsFirst) {
  ASSERT_EQ(ConnectOrRefresh(), S_OK);
  const C_OPC_DA_Client& c = client();
  EXPECT_NE(c.serverGroup, 0u);
  EXPECT_NE(c.syncIOCookie, 0u);
  EXPECT_TRUE(c.pendingMap.empty());
  EXPECT_EQ(c.handleMap.size(), kTestItems);
  EXPECT_NE(Variable("N2.TIC3.RS[4]").serverHandle, 0u);
}

TEST_F(ConnectTest, RefreshFailingOnAnItemRemovesTheGroup) {
  ASSERT_EQ(ConnectFresh(), S_OK);
  Activate();
  WritePlant("101", plantdoc::DigitalBlock("LS9", "Plant/Tanks", "New %s"));
  ASSERT_EQ(control_->FailCall(RALTO_CALL_ADDITEMS, kInjected, 2, 1), S_OK);
  EXPECT_EQ(ConnectOrRefresh(), kInjected);
  EXPECT_EQ(client().serverGroup, 0u);
  EXPECT_EQ(client().serverCookie, 0u);
  // Every variable waits for its item in the group the next refresh builds.
  EXPECT_FALSE(client().pendingMap.empty());
  EXPECT_EQ(ConnectOrRefresh(), S_OK);
  EXPECT_EQ(GroupCount(), 1u);
  EXPECT_TRUE(client().pendingMap.empty());
  EXPECT_NE(Variable("N1.LS9.AS").serverHandle, 0u);
}

}  // namespace
