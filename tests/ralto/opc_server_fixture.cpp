#include "opc_server_fixture.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>

#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_server.h"

namespace fs = std::filesystem;

HRESULT CRecordingSink::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid != IID_IUnknown && iid != IID_IOPCDataCallback) return E_NOINTERFACE;
  *object = static_cast<IOPCDataCallback*>(this);
  AddRef();
  return S_OK;
}

ULONG CRecordingSink::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT CRecordingSink::OnDataChange(DWORD transid, OPCHANDLE group, HRESULT masterQuality,
                                     HRESULT masterError, DWORD count, OPCHANDLE* clients,
                                     VARIANT* values, WORD* qualities, FILETIME* times,
                                     HRESULT* errors) {
  RecordedCall call{transid, group, masterQuality, masterError, {}};
  for (DWORD i = 0; i < count; ++i) {
    call.changes.push_back(RecordedChange{clients[i], values[i], qualities[i], times[i], errors[i]});
  }
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  if (onCall) onCall();
  return S_OK;
}

std::vector<RecordedCall> CRecordingSink::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<RecordedChange> CRecordingSink::TakeChanges() {
  std::lock_guard lock(mutex_);
  std::vector<RecordedChange> changes;
  for (const RecordedCall& call : calls_) {
    for (const RecordedChange& change : call.changes) changes.push_back(change);
  }
  calls_.clear();
  return changes;
}

std::string RaltoOpcTest::Summary() {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<ConfigurationSummary xmlns="urn:ralto:config:1.0">
  <NodeSummary Name="NODE1" ProducerId="1"><Document DocType="ProducedData"/></NodeSummary>
  <NodeSummary Name="HMI" ProducerId="90"><Document DocType="ConsumedData"/></NodeSummary>
  <NodeSummary Name="NODE2" ProducerId="2"><Document DocType="ProducedData"/></NodeSummary>
</ConfigurationSummary>
)";
}

std::string RaltoOpcTest::Producer1(const std::string& extraBlocks) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<ProducedData xmlns="urn:ralto:config:1.0">
  <Producer Name="NODE1" ProducerId="1" ConfigTimeSecs="100" ConfigTimeNSecs="0">
    <RaltoConfigExtension><BlockStructures>
      <BlockStructure Name="LIC1">
        <BlockSubElement Name="LIC1.AS" BlockType="O0C"/>
        <BlockSubElement Name="LIC1.RS" BlockType="O0C"/>
        <BlockSubElement Name="LIC1.LP" BlockType="O0C" InitValue="1,2,2,1,3,3"/>
        <BlockSubElement Name="LIC1.FC" BlockType="O0C"/>
        <BlockSubElement Name="LIC1.PI" BlockType="O0C"/>
      </BlockStructure>
      <BlockStructure Name="TI2">
        <BlockSubElement Name="TI2.AS" BlockType="O0C"/>
        <BlockSubElement Name="TI2.LP" BlockType="O0C" InitValue="1,2,2,1,3,3"/>
        <BlockSubElement Name="TI2.FC" BlockType="O0C"/>
        <BlockSubElement Name="TI2.PI" BlockType="O0C"/>
      </BlockStructure>
      <BlockStructure Name="LS3">
        <BlockSubElement Name="LS3.AS" BlockType="O0D"/>
        <BlockSubElement Name="LS3.LP" BlockType="O0D" InitValue="1"/>
        <BlockSubElement Name="LS3.FC" BlockType="O0D"/>
        <BlockSubElement Name="LS3.ST" BlockType="O0D"/>
      </BlockStructure>
      <BlockStructure Name="FV4"><BlockSubElement Name="FV4.PV" BlockType="O0A"/></BlockStructure>
)" + extraBlocks +
         R"(    </BlockStructures></RaltoConfigExtension>
  </Producer>
</ProducedData>
)";
}

std::string RaltoOpcTest::Producer2() {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<ProducedData xmlns="urn:ralto:config:1.0">
  <Producer Name="NODE2" ProducerId="2" ConfigTimeSecs="100" ConfigTimeNSecs="0">
    <RaltoConfigExtension><BlockStructures>
      <BlockStructure Name="P1">
        <BlockSubElement Name="P1.MTR.AS" BlockType="O0D"/>
        <BlockSubElement Name="P1.MTR.FC" BlockType="O0D"/>
        <BlockSubElement Name="P1.MTR.ST" BlockType="O0D"/>
        <EmbeddedBlock Name="MTR" Reference="P1.MTR" BlockType="O0D"/>
      </BlockStructure>
    </BlockStructures></RaltoConfigExtension>
  </Producer>
</ProducedData>
)";
}

void RaltoOpcTest::WriteDocument(const std::string& name, const std::string& text) {
  std::string temp = plantDir_ + "/." + name;
  std::ofstream(temp, std::ios::binary) << text;
  fs::rename(temp, plantDir_ + "/" + name);
}

void RaltoOpcTest::SetUp() {
  plantDir_ = (fs::temp_directory_path() / "plant").string();
  fs::create_directories(plantDir_);
  WriteDocument("ConfigurationSummary.xml", Summary());
  WriteDocument("ProducedData_1.xml", Producer1());
  WriteDocument("ProducedData_2.xml", Producer2());
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plantDir_),
            ERROR_SUCCESS);

  library_ = dlopen(RALTO_OPC_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library_, nullptr) << dlerror();
  auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(library_, "DllRegisterServer"));
  ASSERT_NE(reg, nullptr);
  ASSERT_EQ(reg(), S_OK);

  server_ = CreateServer();
  ASSERT_TRUE(server_);
  control_ = Control(server_);
  ASSERT_TRUE(control_);
  ASSERT_EQ(control_->SetManualUpdates(true), S_OK);
}

void RaltoOpcTest::TearDown() {
  if (control_) control_->ClearFailures();
  if (point_ && cookie_) point_->Unadvise(cookie_);
  point_.Reset();
  io_.Reset();
  state_.Reset();
  items_.Reset();
  if (server_ && groupHandle_) server_->RemoveGroup(groupHandle_, true);
  control_.Reset();
  server_.Reset();
  sink_.Reset();
}

ComPtr<IOPCServer> RaltoOpcTest::CreateServer() {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(kRaltoOpcProgId, &clsid), S_OK);
  ComPtr<IOPCServer> server;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, server.PutVoid()), S_OK);
  return server;
}

ComPtr<IRaltoOpcControl> RaltoOpcTest::Control(const ComPtr<IOPCServer>& server) {
  ComPtr<IRaltoOpcControl> control;
  EXPECT_EQ(server.As(IID_IRaltoOpcControl, control), S_OK);
  return control;
}

void RaltoOpcTest::AddGroup() {
  DWORD revised = 0;
  ASSERT_EQ(server_->AddGroup("", false, 1000, 77, nullptr, nullptr, 0x800, &groupHandle_, &revised,
                              IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items_.Put())),
            S_OK);
  ASSERT_EQ(revised, 1000u);
  ASSERT_EQ(items_.As(IID_IOPCGroupStateMgt, state_), S_OK);
  ASSERT_EQ(items_.As(IID_IOPCSyncIO, io_), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(items_.As(IID_IConnectionPointContainer, container), S_OK);
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point_.Put()), S_OK);
}

HRESULT RaltoOpcTest::AddItem(const std::string& id, OPCHANDLE client, OPCHANDLE* handle, VARTYPE requested) {
  OPCITEMDEF def;
  std::string itemId = id;
  def.szItemID = itemId.data();
  def.bActive = true;
  def.hClient = client;
  def.vtRequestedDataType = requested;
  COpcTaskArray<OPCITEMRESULT> results(1);
  COpcTaskArray<HRESULT> errors(1);
  HRESULT hr = items_->AddItems(1, &def, results.Put(), errors.Put());
  *handle = 0;
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(hr == S_OK, errors[0] == S_OK);
    *handle = results[0].hServer;
  }
  return hr;
}

OPCHANDLE RaltoOpcTest::Item(const std::string& id, OPCHANDLE client) {
  OPCHANDLE handle = 0;
  EXPECT_EQ(AddItem(id, client, &handle), S_OK) << id;
  return handle;
}

HRESULT RaltoOpcTest::Read(OPCDATASOURCE source, const std::vector<OPCHANDLE>& handles,
                           std::vector<OPCITEMSTATE>* states, std::vector<HRESULT>* errors) {
  auto count = static_cast<DWORD>(handles.size());
  COpcTaskArray<OPCITEMSTATE> values(count);
  COpcTaskArray<HRESULT> codes(count);
  std::vector<OPCHANDLE> copy = handles;
  HRESULT hr = io_->Read(source, count, copy.data(), values.Put(), codes.Put());
  states->clear();
  errors->clear();
  if (SUCCEEDED(hr)) {
    for (DWORD i = 0; i < count; ++i) {
      states->push_back(values[i]);
      errors->push_back(codes[i]);
    }
  } else {
    EXPECT_FALSE(values) << "no out array on failure";
    EXPECT_FALSE(codes) << "no out array on failure";
  }
  return hr;
}

HRESULT RaltoOpcTest::WriteI4(OPCHANDLE handle, LONG value, HRESULT* error) {
  VARIANT v = VARIANT::I4(value);
  COpcTaskArray<HRESULT> errors(1);
  HRESULT hr = io_->Write(1, &handle, &v, errors.Put());
  *error = errors ? errors[0] : hr;
  return hr;
}

void RaltoOpcTest::Activate(bool active) {
  DWORD revised = 0;
  BOOL value = active ? true : false;
  ASSERT_EQ(state_->SetState(nullptr, &revised, &value, nullptr, nullptr, nullptr, nullptr), S_OK);
}

void RaltoOpcTest::Advise() {
  sink_ = ComPtr<CRecordingSink>::Attach(new CRecordingSink);
  ASSERT_EQ(point_->Advise(sink_.Get(), &cookie_), S_OK);
  ASSERT_NE(cookie_, 0u);
}

std::vector<std::string> RaltoOpcTest::Browse(const char* filter, VARTYPE type, DWORD rights, HRESULT* result) {
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  EXPECT_EQ(server_.As(IID_IOPCBrowseServerAddressSpace, browse), S_OK);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_TO, ""), S_OK);
  ComPtr<IEnumString> names;
  HRESULT hr = browse->BrowseOPCItemIDs(OPC_FLAT, filter, type, rights, names.Put());
  if (result) *result = hr;
  std::vector<std::string> ids;
  if (FAILED(hr)) return ids;
  char* batch[16];
  ULONG fetched = 0;
  HRESULT next;
  do {
    next = names->Next(16, batch, &fetched);
    for (ULONG i = 0; i < fetched; ++i) {
      ids.push_back(batch[i]);
      CoTaskMemFree(batch[i]);
    }
  } while (next == S_OK);
  return ids;
}

FILETIME TestTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  SYSTEMTIME st;
  st.wYear = WORD(year);
  st.wMonth = WORD(month);
  st.wDay = WORD(day);
  st.wHour = WORD(hour);
  st.wMinute = WORD(minute);
  st.wSecond = WORD(second);
  st.wMilliseconds = WORD(ms);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return ft;
}
