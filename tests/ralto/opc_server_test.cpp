// The Ralto OPC DA server object through its real library: registration,
// creation by ProgID, groups, status, browsing, document changes and the
// injected faults.
#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "opc_server_fixture.h"
#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_server.h"

namespace {

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

using ServerTest = RaltoOpcTest;

TEST_F(ServerTest, RegistrationMakesTheProgIdCreatableAndUnregistrationRemovesIt) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID("Brixham.RaltoOPC", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_RaltoOpcServer);
  std::string key = "CLSID\\" + GuidToString(CLSID_RaltoOpcServer);
  std::string library;
  ASSERT_EQ(RegGetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", library), ERROR_SUCCESS);
  EXPECT_EQ(library, std::filesystem::canonical(RALTO_OPC_LIBRARY).string());
  HKEY category = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT,
                         key + "\\Implemented Categories\\" + GuidToString(CATID_OPCDAServer20), KEY_READ,
                         &category),
            ERROR_SUCCESS);
  RegCloseKey(category);

  auto unreg = reinterpret_cast<HRESULT (*)()>(dlsym(library_, "DllUnregisterServer"));
  ASSERT_EQ(unreg(), S_OK);
  EXPECT_EQ(CLSIDFromProgID(kRaltoOpcProgId, &clsid), CO_E_CLASSSTRING);
  ComPtr<IOPCServer> server;
  EXPECT_EQ(CoCreateInstance(CLSID_RaltoOpcServer, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer,
                             server.PutVoid()),
            REGDB_E_CLASSNOTREG);
}

TEST_F(ServerTest, InterfacesOfTheServerObjectShareOneIdentity) {
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(server_.As(IID_IOPCBrowseServerAddressSpace, browse), S_OK);
  ComPtr<IUnknown> a, b, c;
  ASSERT_EQ(server_->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
  ASSERT_EQ(browse->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
  ASSERT_EQ(control_->QueryInterface(IID_IUnknown, c.PutVoid()), S_OK);
  EXPECT_EQ(a.Get(), b.Get());
  EXPECT_EQ(a.Get(), c.Get());
  ComPtr<IOPCItemMgt> notHere;
  EXPECT_EQ(server_.As(IID_IOPCItemMgt, notHere), E_NOINTERFACE);
  EXPECT_FALSE(notHere);
  EXPECT_EQ(server_->QueryInterface(IID_IOPCServer, nullptr), E_POINTER);
}

TEST_F(ServerTest, AddGroupRevisesTheRateAndKeepsNamesUnique) {
  auto add = [&](const char* name, DWORD rate, OPCHANDLE* handle, DWORD* revised, ComPtr<IUnknown>& group,
                 const IID& iid = IID_IOPCGroupStateMgt, float* deadband = nullptr) {
    return server_->AddGroup(name, true, rate, 5, nullptr, deadband, 0x409, handle, revised, iid, group.Put());
  };
  OPCHANDLE h1 = 0, h2 = 0, h3 = 0;
  DWORD revised = 0;
  ComPtr<IUnknown> g1, g2, g3;
  EXPECT_EQ(add("Alarms", 1000, &h1, &revised, g1), S_OK);
  EXPECT_EQ(revised, 1000u);
  EXPECT_EQ(add("", 0, &h2, &revised, g2), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, kRaltoOpcRateStepMs);
  EXPECT_EQ(add("", 15, &h3, &revised, g3), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 20u);
  EXPECT_NE(h1, 0u);
  EXPECT_NE(h1, h2);
  EXPECT_NE(h2, h3);

  // The generated names differ and do not clash with a client's name.
  ComPtr<IOPCGroupStateMgt> s2, s3;
  ASSERT_EQ(g2.As(IID_IOPCGroupStateMgt, s2), S_OK);
  ASSERT_EQ(g3.As(IID_IOPCGroupStateMgt, s3), S_OK);
  DWORD rate;
  BOOL active;
  char* name2 = nullptr;
  char* name3 = nullptr;
  LONG bias;
  float deadband;
  DWORD lcid;
  OPCHANDLE client, serverHandle;
  ASSERT_EQ(s2->GetState(&rate, &active, &name2, &bias, &deadband, &lcid, &client, &serverHandle), S_OK);
  EXPECT_EQ(rate, kRaltoOpcRateStepMs);
  EXPECT_TRUE(active);
  EXPECT_EQ(lcid, 0x409u);
  EXPECT_EQ(client, 5u);
  EXPECT_EQ(serverHandle, h2);
  ASSERT_EQ(s3->GetState(&rate, &active, &name3, &bias, &deadband, &lcid, &client, &serverHandle), S_OK);
  EXPECT_STRNE(name2, name3);
  EXPECT_STRNE(name2, "Alarms");
  EXPECT_EQ(s3->SetName(name2), OPC_E_DUPLICATENAME);
  EXPECT_EQ(s3->SetName("Renamed"), S_OK);
  EXPECT_EQ(s3->SetName(""), E_INVALIDARG);
  ComPtr<IUnknown> found;
  EXPECT_EQ(server_->GetGroupByName("Renamed", IID_IOPCSyncIO, found.Put()), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(server_->GetGroupByName(name3, IID_IOPCSyncIO, found.Put()), E_INVALIDARG);
  CoTaskMemFree(name2);
  CoTaskMemFree(name3);

  // Failures create no group.
  OPCHANDLE h = 0;
  ComPtr<IUnknown> none;
  EXPECT_EQ(add("Alarms", 1000, &h, &revised, none), OPC_E_DUPLICATENAME);
  EXPECT_EQ(add("Other", 1000, &h, &revised, none, IID_IOPCServer), E_NOINTERFACE);
  float badDeadband = 101;
  EXPECT_EQ(add("Other", 1000, &h, &revised, none, IID_IOPCItemMgt, &badDeadband), E_INVALIDARG);
  EXPECT_FALSE(none);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(server_->AddGroup("X", true, 1000, 0, nullptr, nullptr, 0, &h, &revised, IID_IOPCItemMgt, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(server_->AddGroup("X", true, 1000, 0, nullptr, nullptr, 0, nullptr, &revised, IID_IOPCItemMgt,
                              none.Put()),
            E_INVALIDARG);

  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server_->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwGroupCount, 3u);
  OpcFreeServerStatus(status);
}

TEST_F(ServerTest, RemoveGroupAnswersInUseWhileTheClientHoldsTheGroup) {
  AddGroup();
  EXPECT_EQ(server_->RemoveGroup(groupHandle_, false), OPC_S_INUSE);
  EXPECT_EQ(server_->RemoveGroup(groupHandle_, false), E_INVALIDARG) << "already removed";
  // The removed group still answers its interfaces until released.
  DWORD revised;
  BOOL active = true;
  EXPECT_EQ(state_->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
  groupHandle_ = 0;

  OPCHANDLE handle = 0;
  ComPtr<IUnknown> group;
  ASSERT_EQ(server_->AddGroup("Temp", false, 500, 0, nullptr, nullptr, 0, &handle, &revised, IID_IUnknown,
                              group.Put()),
            S_OK);
  group.Reset();
  EXPECT_EQ(server_->RemoveGroup(handle, false), S_OK) << "nobody else holds it";
  EXPECT_EQ(server_->RemoveGroup(12345, true), E_INVALIDARG);
}

TEST_F(ServerTest, StatusErrorTextsAndGroupEnumeration) {
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server_->GetStatus(&status), S_OK);
  EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(status->dwGroupCount, 0u);
  EXPECT_GE(CompareFileTime(status->ftCurrentTime, status->ftStartTime), 0);
  ASSERT_NE(status->szVendorInfo, nullptr);
  EXPECT_NE(std::string(status->szVendorInfo).find("Ralto"), std::string::npos);
  OpcFreeServerStatus(status);
  EXPECT_EQ(server_->GetStatus(nullptr), E_INVALIDARG);

  char* text = nullptr;
  ASSERT_EQ(server_->GetErrorString(OPC_E_UNKNOWNITEMID, 0x409, &text), S_OK);
  EXPECT_STREQ(text, "The item ID is not in the server's address space.");
  CoTaskMemFree(text);
  EXPECT_EQ(server_->GetErrorString(static_cast<HRESULT>(0xC004FFFF), 0x409, &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(server_->GetErrorString(OPC_E_BADTYPE, 0x407, &text), E_INVALIDARG) << "German is not offered";

  AddGroup();
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(server_->CreateGroupEnumerator(OPC_ENUM_ALL_CONNECTIONS, IID_IEnumString, unknown.Put()), S_OK);
  ComPtr<IEnumString> names;
  ASSERT_EQ(unknown.As(IID_IEnumString, names), S_OK);
  char* name = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(names->Next(1, &name, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_STRNE(name, "");
  CoTaskMemFree(name);
  EXPECT_EQ(names->Next(1, &name, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(server_->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString, unknown.Put()), S_FALSE);
  EXPECT_TRUE(unknown) << "an empty enumerator still comes back";
  EXPECT_EQ(server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, unknown.Put()), E_NOINTERFACE);
  EXPECT_EQ(server_->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(9), IID_IEnumString, unknown.Put()),
            E_INVALIDARG);
}

TEST_F(ServerTest, FlatBrowseListsTheItemsOfEveryAlarmBlock) {
  std::vector<std::string> ids = Browse();
  EXPECT_EQ(ids.size(), kTestPlantItems);
  for (const char* id : {"NODE1.LIC1.AS", "NODE1.LIC1.AS[1]", "NODE1.LIC1.AS[4]", "NODE1.LIC1.RS[4]",
                         "NODE1.LIC1.FC", "NODE1.LIC1.PI", "NODE1.TI2.AS[2]", "NODE1.LS3.ST",
                         "NODE2.P1.MTR.AS[3]", "NODE2.P1.MTR.FC"}) {
    EXPECT_TRUE(Contains(ids, id)) << id;
  }
  for (const char* id : {"NODE1.LIC1.LP", "NODE1.FV4.PV", "NODE1.TI2.RS", "HMI"}) {
    EXPECT_FALSE(Contains(ids, id)) << id;
  }

  ComPtr<IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(server_.As(IID_IOPCBrowseServerAddressSpace, browse), S_OK);
  OPCNAMESPACETYPE type;
  ASSERT_EQ(browse->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_FLAT);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, nullptr), S_OK);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_UP, ""), E_FAIL);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, "NODE1"), E_FAIL);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, "NODE1"), E_FAIL);
  EXPECT_EQ(browse->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(7), ""), E_INVALIDARG);
  ComPtr<IEnumString> none;
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, "", VT_EMPTY, 0, none.Put()), S_FALSE);
  EXPECT_TRUE(none);
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, "", VT_EMPTY, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(0), "", VT_EMPTY, 0, none.Put()),
            E_INVALIDARG);
  EXPECT_EQ(browse->BrowseAccessPaths("NODE1.LIC1.AS", none.Put()), E_NOTIMPL);

  char* id = nullptr;
  ASSERT_EQ(browse->GetItemID("NODE1.LIC1.FC", &id), S_OK);
  EXPECT_STREQ(id, "NODE1.LIC1.FC");
  CoTaskMemFree(id);
  EXPECT_EQ(browse->GetItemID("NODE1.LIC1.LP", &id), E_INVALIDARG);
  EXPECT_EQ(id, nullptr);
}

TEST_F(ServerTest, BrowseFiltersByPatternTypeAndRights) {
  EXPECT_EQ(Browse("*.AS").size(), 4u);
  EXPECT_EQ(Browse("NODE1.LIC1.?S").size(), 2u);
  EXPECT_EQ(Browse("NODE#.*.AS[[]#]").size(), 16u) << "every element of the four state words";
  EXPECT_EQ(Browse("NODE1.LIC1.AS[[][!1-3]]"), std::vector<std::string>{"NODE1.LIC1.AS[4]"});
  EXPECT_EQ(Browse("*.[FP][CI]").size(), 6u) << "four .FC and two .PI";
  EXPECT_EQ(Browse("node1.*").size(), 0u) << "case counts";
  EXPECT_EQ(Browse("", VT_R4), (std::vector<std::string>{"NODE1.LIC1.PI", "NODE1.TI2.PI"}));
  EXPECT_EQ(Browse("", VT_EMPTY, OPC_WRITEABLE).size(), 4u);
  EXPECT_EQ(Browse("*.ST", VT_UI2).size(), 2u);
  HRESULT hr = S_OK;
  EXPECT_TRUE(Browse("NOTHING*", VT_EMPTY, 0, &hr).empty());
  EXPECT_EQ(hr, S_FALSE);
  for (const char* bad : {"NODE[1", "NODE[]", "NODE[9-0]"}) {
    Browse(bad, VT_EMPTY, 0, &hr);
    EXPECT_EQ(hr, OPC_E_INVALIDFILTER) << bad;
  }
}

TEST_F(ServerTest, StringEnumeratorFollowsTheEnumeratorRules) {
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(server_.As(IID_IOPCBrowseServerAddressSpace, browse), S_OK);
  ComPtr<IEnumString> names;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, "NODE1.LIC1.AS*", VT_EMPTY, 0, names.Put()), S_OK);
  char* batch[8] = {};
  ULONG fetched = 99;
  EXPECT_EQ(names->Next(2, batch, nullptr), E_INVALIDARG);
  EXPECT_EQ(names->Skip(2), S_OK);
  ComPtr<IEnumString> clone;
  ASSERT_EQ(names->Clone(clone.Put()), S_OK);
  ASSERT_EQ(names->Next(8, batch, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_STREQ(batch[0], "NODE1.LIC1.AS[2]");
  for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(batch[i]);
  ASSERT_EQ(clone->Next(1, batch, nullptr), S_OK) << "the clone kept the position";
  EXPECT_STREQ(batch[0], "NODE1.LIC1.AS[2]");
  CoTaskMemFree(batch[0]);
  EXPECT_EQ(names->Skip(1), S_FALSE);
  EXPECT_EQ(names->Reset(), S_OK);
  ASSERT_EQ(names->Next(1, batch, &fetched), S_OK);
  EXPECT_STREQ(batch[0], "NODE1.LIC1.AS");
  CoTaskMemFree(batch[0]);
}

TEST_F(ServerTest, ABrowsePicksUpChangedDocuments) {
  AddGroup();
  OPCHANDLE motor = Item("NODE2.P1.MTR.AS", 1);
  const std::string newBlock = R"(      <BlockStructure Name="PT5">
        <BlockSubElement Name="PT5.AS" BlockType="O0C"/>
        <BlockSubElement Name="PT5.FC" BlockType="O0C"/>
      </BlockStructure>
)";
  WriteDocument("ProducedData_1.xml", Producer1(newBlock));
  OPCHANDLE handle = 0;
  EXPECT_EQ(AddItem("NODE1.PT5.AS", 2, &handle), S_FALSE) << "not before the next browse";
  EXPECT_EQ(Browse().size(), kTestPlantItems + 6);
  EXPECT_EQ(AddItem("NODE1.PT5.AS", 2, &handle), S_OK);

  // A producer that leaves the summary takes its items with it; handles stay.
  std::string summary = Summary();
  summary.erase(summary.find("  <NodeSummary Name=\"NODE2\""));
  WriteDocument("ConfigurationSummary.xml", summary + "</ConfigurationSummary>\n");
  EXPECT_EQ(Browse().size(), kTestPlantItems + 6 - 7);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> errors;
  EXPECT_EQ(Read(OPC_DS_DEVICE, {motor, handle}, &states, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(errors[1], S_OK);
  EXPECT_EQ(AddItem("NODE2.P1.MTR.AS", 3, &handle), S_FALSE);

  WriteDocument("ConfigurationSummary.xml", Summary());
  ASSERT_EQ(control_->ReloadDocuments(), S_OK);
  EXPECT_EQ(Read(OPC_DS_DEVICE, {motor}, &states, &errors), S_OK) << "the same handle works again";
  EXPECT_EQ(states[0].vDataValue.vt, VT_UI4);
}

TEST_F(ServerTest, WithoutASettingItServesTheExamplePlant) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValue(key, kRaltoDocumentDirectoryValue), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(control_->SetDocumentDirectory(""), S_OK);
  std::vector<std::string> ids = Browse();
  // 47 blocks: 47 state words with elements, 12 rate-of-change words with
  // elements, 47 .FC, 30 .PI, 17 .ST.
  EXPECT_EQ(ids.size(), 389u);
  EXPECT_TRUE(Contains(ids, "TANKFARM.LIC101.RS[4]"));
  EXPECT_TRUE(Contains(ids, "PUMPSTN.P201A.MTR.ST"));
  EXPECT_FALSE(Contains(ids, "NODE1.LIC1.AS")) << "the other plant's items are gone";
}

TEST_F(ServerTest, UnreadableDocumentsLeaveThePlantAsItWas) {
  WriteDocument("ProducedData_1.xml", "<ProducedData><broken");
  EXPECT_EQ(control_->ReloadDocuments(), S_FALSE);
  EXPECT_EQ(Browse().size(), kTestPlantItems);

  std::ofstream(plantDir_ + "/ConfigurationEditing.lock") << "";
  EXPECT_EQ(control_->ReloadDocuments(), static_cast<HRESULT>(0xC18107D0));
  EXPECT_EQ(Browse().size(), kTestPlantItems);

  EXPECT_EQ(control_->SetDocumentDirectory(plantDir_ + "/missing"), static_cast<HRESULT>(0xC1810002));
  EXPECT_EQ(Browse().size(), kTestPlantItems);
}

TEST_F(ServerTest, InjectedFailuresHitTheNamedCallOnly) {
  AddGroup();
  ASSERT_EQ(control_->FailCall(RALTO_CALL_ADDITEMS, E_OUTOFMEMORY, 1, 1), S_OK);
  OPCHANDLE handle = 0;
  EXPECT_EQ(AddItem("NODE1.LIC1.AS", 1, &handle), S_OK) << "skipped once";
  OPCITEMDEF def;
  std::string id = "NODE1.LIC1.FC";
  def.szItemID = id.data();
  OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
  HRESULT* errors = reinterpret_cast<HRESULT*>(1);
  EXPECT_EQ(items_->AddItems(1, &def, &results, &errors), E_OUTOFMEMORY);
  EXPECT_EQ(results, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(AddItem("NODE1.LIC1.FC", 2, &handle), S_OK) << "failed once only";

  ASSERT_EQ(control_->FailCall(RALTO_CALL_READ, E_FAIL, 0, 0), S_OK);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> codes;
  EXPECT_EQ(Read(OPC_DS_CACHE, {handle}, &states, &codes), E_FAIL);
  EXPECT_EQ(Read(OPC_DS_CACHE, {handle}, &states, &codes), E_FAIL) << "until cleared";

  ASSERT_EQ(control_->FailCall(RALTO_CALL_CREATEINSTANCE, CO_E_ERRORINDLL, 0, 1), S_OK);
  ComPtr<IOPCServer> server;
  EXPECT_EQ(CoCreateInstance(CLSID_RaltoOpcServer, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer,
                             server.PutVoid()),
            CO_E_ERRORINDLL);
  EXPECT_FALSE(server);

  ASSERT_EQ(control_->HideInterface(IID_IOPCBrowseServerAddressSpace), S_OK);
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  EXPECT_EQ(server_.As(IID_IOPCBrowseServerAddressSpace, browse), E_NOINTERFACE);

  EXPECT_EQ(control_->FailCall(RALTO_CALL_WRITE, S_FALSE, 0, 0), E_INVALIDARG);
  EXPECT_EQ(control_->FailCall(RALTO_CALL_COUNT_, E_FAIL, 0, 0), E_INVALIDARG);

  ASSERT_EQ(control_->ClearFailures(), S_OK);
  EXPECT_EQ(Read(OPC_DS_CACHE, {handle}, &states, &codes), S_OK);
  EXPECT_EQ(server_.As(IID_IOPCBrowseServerAddressSpace, browse), S_OK);
}

TEST_F(ServerTest, ARejectedItemIsAcceptedAfterTheNextBrowse) {
  AddGroup();
  ASSERT_EQ(control_->RejectItem("NODE1.TI2.AS"), S_OK);
  OPCHANDLE handle = 0;
  EXPECT_EQ(AddItem("NODE1.TI2.AS", 1, &handle), S_FALSE);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(AddItem("NODE1.TI2.AS", 1, &handle), S_FALSE) << "still rejected";
  EXPECT_EQ(AddItem("NODE1.TI2.FC", 2, &handle), S_OK) << "other items are not";
  Browse();
  EXPECT_EQ(AddItem("NODE1.TI2.AS", 1, &handle), S_OK);
  EXPECT_NE(handle, 0u);
}

TEST_F(ServerTest, ServersOfOneProcessShareThePlant) {
  ComPtr<IOPCServer> second = CreateServer();
  ASSERT_TRUE(second);
  ComPtr<IRaltoOpcControl> control = Control(second);
  RaltoAlarmSetting alarm;
  alarm.state = 4;
  alarm.acknowledged = false;
  ASSERT_EQ(control->SetAlarm("NODE1.LIC1.AS", alarm), S_OK);
  AddGroup();
  OPCHANDLE handle = Item("NODE1.LIC1.AS", 1);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> errors;
  ASSERT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue.ulVal & 0xFF, 4u);
}

}  // namespace
