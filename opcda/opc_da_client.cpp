#include "opcda/opc_da_client.h"

#include <cstdio>
#include <mutex>
#include <new>

#include "alarmconfig/config_import.h"
#include "alarmconfig/message_box_sink.h"
#include "opcda/alarm_requests.h"
#include "platform/class_factory.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "ralto/config_server.h"

IGlobalInterfaceTable* g_pGlobalInterfaceTable = nullptr;

namespace {

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";
constexpr char kConfigKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0";
// The server reads these paths into 255-byte buffers of two-byte characters.
constexpr size_t kMaxPathCharacters = 126;
constexpr LCID kSystemDefaultLocale = 0x800;
constexpr char kVerboseText[] =
    "QRX 2.00 Verbose Reporting\n\n Please inform Veltro Technical support of this error number:";

size_t CharacterCount(const std::string& utf8) {
  size_t count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

std::string ReadPath(const char* value) {
  std::string path;
  if (RegGetString(HKEY_LOCAL_MACHINE, kAlarmLogKey, value, path) != ERROR_SUCCESS ||
      CharacterCount(path) > kMaxPathCharacters)
    return {};
  return path;
}

template <class T>
HRESULT FromTable(DWORD cookie, const IID& iid, ComPtr<T>& out) {
  if (!g_pGlobalInterfaceTable) return E_FAIL;
  return g_pGlobalInterfaceTable->GetInterfaceFromGlobal(cookie, iid, out.PutVoid());
}

// The configuration server's "no configuration right now" answers: a
// binding tick that meets one keeps the connection as it is.
bool IsToleratedImportFailure(HRESULT hr) {
  return hr == RALTO_E_DOCUMENT_NOT_FOUND || hr == RALTO_E_UNKNOWN_PRODUCER || hr == RALTO_E_CONFIG_EDITING ||
         hr == RALTO_E_NO_CONFIGURATION;
}

// A flat browse of the whole address space, which makes the server look at
// its configuration again; the answer itself is not needed.
void BrowseAddressSpace(IOPCBrowseServerAddressSpace& browse) {
  browse.ChangeBrowsePosition(OPC_BROWSE_TO, "");
  ComPtr<IEnumString> items;
  browse.BrowseOPCItemIDs(OPC_FLAT, "", VT_EMPTY, 0, items.Put());
}

void VerboseReport(HRESULT hr) {
  DWORD verbose = 0;
  if (RegGetDword(HKEY_LOCAL_MACHINE, kConfigKey, "ConfigServer_Verbose", verbose) != ERROR_SUCCESS ||
      verbose == 0)
    return;
  ShowMessageBox(std::string(kVerboseText) + "[" + std::to_string(hr) + "]", MessageBoxIcon::Exclamation);
}

}  // namespace

// The group's interfaces while a connect operation works with them.
struct C_OPC_DA_Client::GroupInterfaces {
  ComPtr<IOPCServer> server;
  ComPtr<IOPCItemMgt> itemMgt;
  ComPtr<IConnectionPoint> connectionPoint;
  ComPtr<IOPCSyncIO> syncIO;
  ComPtr<IOPCGroupStateMgt> groupState;
  // Null when the server offers no browsing.
  ComPtr<IOPCBrowseServerAddressSpace> browse;
};

C_OPC_DA_Client::C_OPC_DA_Client()
    : receiveFilePath(ReadPath("AlarmReceiveFile")), dumpFilePath(ReadPath("AlarmDumpFile")) {}

C_OPC_DA_Client::~C_OPC_DA_Client() {
  // First of all, so that no callback in progress or to come uses the maps.
  if (callback_) callback_->DetachClient();
  if (g_pGlobalInterfaceTable) {
    ComPtr<IOPCGroupStateMgt> groupState;
    if (SUCCEEDED(FromTable(groupStateCookie, IID_IOPCGroupStateMgt, groupState))) {
      DWORD revised = 0;
      BOOL inactive = false;
      OPCHANDLE clientGroup = serverGroup;
      groupState->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr, &clientGroup);
    }
    ComPtr<IConnectionPoint> connectionPoint;
    if (SUCCEEDED(FromTable(connectionPointCookie, IID_IConnectionPoint, connectionPoint)))
      connectionPoint->Unadvise(adviseCookie);
    if (serverGroup != 0) {
      if (!itemMap.empty()) {
        std::vector<OPCHANDLE> handles;
        handles.reserve(itemMap.size());
        for (const auto& [id, variable] : itemMap)
          if (variable.serverHandle != 0) handles.push_back(variable.serverHandle);
        ComPtr<IOPCItemMgt> itemMgt;
        if (!handles.empty() && SUCCEEDED(FromTable(itemMgtCookie, IID_IOPCItemMgt, itemMgt))) {
          COpcTaskArray<HRESULT> errors(static_cast<DWORD>(handles.size()));
          itemMgt->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), errors.Put());
        }
      }
      RemoveGroupThroughTable();
    }
    // Also after a failed refresh removed the group: the table must not keep
    // the server's objects alive.
    RevokeInterfaces();
  }
  std::unordered_set<const AlarmVar*> variables;
  variables.reserve(itemMap.size());
  for (const auto& [id, variable] : itemMap) variables.insert(&variable);
  alarmRequests.Forget(variables);
  callback_.Reset();
  // The variables themselves go with the store, after their sources let go.
}

HRESULT C_OPC_DA_Client::ConnectFresh(const std::string& progId, DWORD updateRateMs) {
  if (!g_pGlobalInterfaceTable) return E_FAIL;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  GroupInterfaces group;
  hr = CreateGroup(clsid, updateRateMs, true, group);
  if (FAILED(hr)) return hr;

  hr = ImportConfiguration(false);
  if (!dumpFilePath.empty()) WriteAlarmBlockList();
  if (FAILED(hr)) {
    AbandonGroup(group);
    return hr;
  }

  if (group.browse) BrowseAddressSpace(*group.browse.Get());
  std::vector<AlarmVar*> variables;
  variables.reserve(itemMap.size());
  for (auto& [id, variable] : itemMap) variables.push_back(&variable);
  hr = AddItems(variables, false, group);
  if (FAILED(hr)) return hr;

  hr = RegisterInterfaces(group);
  if (FAILED(hr)) AbandonGroup(group);
  return hr;
}

HRESULT C_OPC_DA_Client::ConnectOrRefresh(const std::string& progId, DWORD updateRateMs) {
  if (!g_pGlobalInterfaceTable) return E_FAIL;
  GroupInterfaces group;
  if (FAILED(FromTable(serverCookie, IID_IOPCServer, group.server)) ||
      FAILED(FromTable(itemMgtCookie, IID_IOPCItemMgt, group.itemMgt))) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    hr = CreateGroup(clsid, updateRateMs, !callback_, group);
    if (FAILED(hr)) return hr;
    hr = RegisterInterfaces(group);
    if (FAILED(hr)) {
      AbandonGroup(group);
      return hr;
    }
  } else {
    FromTable(connectionPointCookie, IID_IConnectionPoint, group.connectionPoint);
    group.server.As(IID_IOPCBrowseServerAddressSpace, group.browse);
  }

  HRESULT hr = ImportConfiguration(true);
  bool tolerated = FAILED(hr) && IsToleratedImportFailure(hr);
  if (FAILED(hr) && !tolerated) {
    VerboseReport(hr);
    group.server->RemoveGroup(serverGroup, false);
    SetServerGroup(0);
    ForgetRemovedGroup();
    return hr;
  }
  if (pendingMap.empty() || tolerated) {
    if (group.browse) BrowseAddressSpace(*group.browse.Get());
    return S_OK;
  }

  if (FAILED(FromTable(groupStateCookie, IID_IOPCGroupStateMgt, group.groupState))) {
    group.server->RemoveGroup(serverGroup, false);
    SetServerGroup(0);
    ForgetRemovedGroup();
    return E_FAIL;
  }
  // Items join an inactive group; the connection manager activates it again.
  DWORD revised = 0;
  BOOL inactive = false;
  OPCHANDLE clientGroup = serverGroup;
  group.groupState->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr, &clientGroup);

  std::vector<AlarmVar*> variables;
  variables.reserve(pendingMap.size());
  for (const auto& [id, variable] : pendingMap) variables.push_back(variable);
  hr = AddItems(variables, true, group);
  if (FAILED(hr)) ForgetRemovedGroup();
  return hr;
}

void C_OPC_DA_Client::ForgetRemovedGroup() {
  // A refresh that removed the group must not leave its interfaces in the
  // table: the next refresh would find them and fail against the removed
  // group for ever. Without them it builds a new group, and every variable
  // waits for its item in that group.
  RevokeInterfaces();
  for (auto& [id, variable] : itemMap) {
    if (variable.KindSuffix() == ".LP") continue;
    variable.serverHandle = 0;
    pendingMap[id] = &variable;
  }
}

HRESULT C_OPC_DA_Client::CreateGroup(const CLSID& clsid, DWORD updateRateMs, bool newCallback,
                                     GroupInterfaces& group) {
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, group.server.PutVoid());
  if (FAILED(hr)) return hr;
  OPCHANDLE serverHandle = 0;
  DWORD revisedRate = 0;
  hr = group.server->AddGroup("", false, updateRateMs, 0, nullptr, nullptr, kSystemDefaultLocale, &serverHandle,
                              &revisedRate, IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.itemMgt.Put()));
  if (FAILED(hr)) return hr;
  SetServerGroup(serverHandle);

  ComPtr<IConnectionPointContainer> container;
  hr = group.itemMgt.As(IID_IConnectionPointContainer, container);
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(IID_IOPCDataCallback, group.connectionPoint.Put());
  if (SUCCEEDED(hr)) hr = group.itemMgt.As(IID_IOPCSyncIO, group.syncIO);
  if (SUCCEEDED(hr)) hr = group.itemMgt.As(IID_IOPCGroupStateMgt, group.groupState);
  if (SUCCEEDED(hr) && (newCallback || !callback_)) {
    if (callback_) callback_->DetachClient();
    callback_ = ComPtr<Callback>::Attach(new (std::nothrow) Callback(this));
    if (!callback_) hr = E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr)) hr = group.connectionPoint->Advise(callback_.Get(), &adviseCookie);
  if (FAILED(hr)) {
    group.server->RemoveGroup(serverGroup, false);
    SetServerGroup(0);
    return hr;
  }
  group.server.As(IID_IOPCBrowseServerAddressSpace, group.browse);
  return S_OK;
}

HRESULT C_OPC_DA_Client::AddItems(const std::vector<AlarmVar*>& variables, bool incremental,
                                  GroupInterfaces& group) {
  bool retried = false;  // the one browse-and-retry of a run
  for (AlarmVar* variable : variables) {
    if (variable->KindSuffix() == ".LP") {
      if (incremental) pendingMap.erase(variable->ItemId());
      continue;
    }
    OPCHANDLE clientHandle = 0;
    if (incremental) {
      auto known = reverseHandleMap.find(variable);
      if (known != reverseHandleMap.end()) clientHandle = known->second;
    }
    if (clientHandle == 0) clientHandle = ++lastClientHandle;
    {
      std::unique_lock lock(handleLock);
      handleMap[clientHandle] = variable;
      reverseHandleMap[variable] = clientHandle;
    }
    HRESULT hr = AddItem(*variable, clientHandle, *group.itemMgt.Get());
    if (hr == S_FALSE && !retried && group.browse) {
      retried = true;
      BrowseAddressSpace(*group.browse.Get());
      hr = AddItem(*variable, clientHandle, *group.itemMgt.Get());
    }
    if (FAILED(hr)) {
      ForgetHandle(*variable);
      AbandonGroup(group);
      return hr;
    }
    if (incremental) pendingMap.erase(variable->ItemId());
  }
  return S_OK;
}

HRESULT C_OPC_DA_Client::AddItem(AlarmVar& variable, OPCHANDLE clientHandle, IOPCItemMgt& itemMgt) {
  std::string itemId = variable.ItemId();
  char accessPath[] = "";
  OPCITEMDEF definition;
  definition.szAccessPath = accessPath;
  definition.szItemID = itemId.data();
  definition.bActive = true;
  definition.hClient = clientHandle;
  definition.vtRequestedDataType = VT_EMPTY;
  COpcTaskArray<OPCITEMRESULT> results(1);
  COpcTaskArray<HRESULT> errors(1);
  HRESULT hr = itemMgt.AddItems(1, &definition, results.Put(), errors.Put());
  if (SUCCEEDED(hr) && hr != S_FALSE && results) variable.serverHandle = results[0].hServer;
  return hr;
}

HRESULT C_OPC_DA_Client::RegisterInterfaces(const GroupInterfaces& group) {
  const struct {
    IUnknown* object;
    const IID& iid;
    DWORD& cookie;
  } entries[] = {
      {group.connectionPoint.Get(), IID_IConnectionPoint, connectionPointCookie},
      {group.server.Get(), IID_IOPCServer, serverCookie},
      {group.itemMgt.Get(), IID_IOPCItemMgt, itemMgtCookie},
      {group.syncIO.Get(), IID_IOPCSyncIO, syncIOCookie},
      {group.groupState.Get(), IID_IOPCGroupStateMgt, groupStateCookie},
  };
  for (const auto& entry : entries) {
    HRESULT hr = g_pGlobalInterfaceTable->RegisterInterfaceInGlobal(entry.object, entry.iid, &entry.cookie);
    if (FAILED(hr)) {
      entry.cookie = 0;
      RevokeInterfaces();
      return hr;
    }
  }
  return S_OK;
}

void C_OPC_DA_Client::AbandonGroup(GroupInterfaces& group) {
  if (group.connectionPoint) group.connectionPoint->Unadvise(adviseCookie);
  if (group.server) group.server->RemoveGroup(serverGroup, false);
  SetServerGroup(0);
}

void C_OPC_DA_Client::RemoveGroupThroughTable() {
  ComPtr<IOPCServer> server;
  if (FAILED(FromTable(serverCookie, IID_IOPCServer, server))) return;
  server->RemoveGroup(serverGroup, false);
  SetServerGroup(0);
}

void C_OPC_DA_Client::RemoveItemsThroughTable(std::vector<OPCHANDLE> serverHandles) {
  ComPtr<IOPCItemMgt> itemMgt;
  if (serverHandles.empty() || FAILED(FromTable(itemMgtCookie, IID_IOPCItemMgt, itemMgt))) return;
  // One item per call, as the sweep meets them.
  for (OPCHANDLE handle : serverHandles) {
    COpcTaskArray<HRESULT> errors(1);
    itemMgt->RemoveItems(1, &handle, errors.Put());
  }
}

void C_OPC_DA_Client::RevokeInterfaces() {
  for (DWORD* cookie : {&groupStateCookie, &syncIOCookie, &itemMgtCookie, &connectionPointCookie, &serverCookie}) {
    if (*cookie != 0 && g_pGlobalInterfaceTable) g_pGlobalInterfaceTable->RevokeInterfaceFromGlobal(*cookie);
    *cookie = 0;
  }
}

void C_OPC_DA_Client::SetServerGroup(DWORD group) {
  // The data callback compares its group with it.
  std::unique_lock lock(handleLock);
  serverGroup = group;
}

void C_OPC_DA_Client::ForgetHandle(AlarmVar& variable) {
  std::unique_lock lock(handleLock);
  auto it = reverseHandleMap.find(&variable);
  if (it == reverseHandleMap.end()) return;
  handleMap.erase(it->second);
  reverseHandleMap.erase(it);
}

HRESULT C_OPC_DA_Client::ImportConfiguration(bool incremental) {
  HRESULT hr;
  {
    // The import's sweep changes handleMap and frees variables.
    std::unique_lock lock(handleLock);
    hr = ::ImportConfiguration(*this, incremental);
  }
  // Outside the lock: the server may be delivering a callback that waits for it.
  RemoveItemsThroughTable(std::move(sweptServerHandles_));
  sweptServerHandles_.clear();
  alarmRequests.Forget(sweptVariables_);
  sweptVariables_.clear();
  return hr;
}

AlarmVar* C_OPC_DA_Client::FindVariableByHandle(OPCHANDLE clientHandle) const {
  auto it = handleMap.find(clientHandle);
  return it == handleMap.end() ? nullptr : it->second;
}

void C_OPC_DA_Client::RemoveServerItem(const AlarmVar& variable) {
  if (variable.serverHandle != 0) sweptServerHandles_.push_back(variable.serverHandle);
  sweptVariables_.insert(&variable);
}

void C_OPC_DA_Client::WriteAlarmBlockList() const {
  std::FILE* file = std::fopen(dumpFilePath.c_str(), "wb");
  if (!file) return;
  std::string text;
  for (const auto& [id, variable] : itemMap) {
    if (variable.KindSuffix() != ".AS") continue;
    text += variable.nodeName;
    text += '.';
    text += variable.BlockName();
    text += '\n';
  }
  std::string bytes = Utf8ToUtf16Le(text);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}
