#include "opcda/connection_manager.h"

#include <new>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/string_ids.h"
#include "alarmconfig/tracked_cache_lock.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/ack_result_texts.h"
#include "opcda/alarm_requests.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/resource_strings.h"
#include "toolkit/condition.h"

ConnectionManager* g_pConnectionManager = nullptr;

namespace {

constexpr char kConfigDataKey[] = "SOFTWARE\\QUILLAN\\Veltro QRX OPC AE\\Config Data";
constexpr char kItemKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0";
constexpr char kConfigDataCreateKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data";
constexpr DWORD kDefaultUpdateRateMs = 1000;
constexpr DWORD kDefaultBindingRateMs = 60000;
// The server reads the name into a 255-byte buffer.
constexpr size_t kMaxServerNameBytes = 254;


// The size of the working array of one GetConditionEntries call.
constexpr size_t kEntriesPerCall = 3;

DWORD ReadBindingRate() {
  DWORD rate = kDefaultBindingRateMs;
  RegGetDword(HKEY_LOCAL_MACHINE, kItemKey, "AlarnEventBindingRate", rate);
  return rate;
}

}  // namespace

ConnectionManager::ConnectionManager(DWORD stopLimitMs) : bindingRateMs(ReadBindingRate()), stopLimitMs_(stopLimitMs) {
  g_pAlarmEntrySupply.store(this);
}

ConnectionManager::~ConnectionManager() {
  std::thread connect;
  std::shared_ptr<Pass> pass;
  {
    std::lock_guard lock(threadMutex_);
    closing_ = true;
    connect = std::move(connectThread_);
    pass = std::move(pass_);
  }
  if (connect.joinable()) {
    bool ended = pass->ended.Wait(stopLimitMs_);
    if (!ended) {
      // Free only while the pass is inside its client's connect (or done).
      std::lock_guard lock(pass->mutex);
      ended = pass->ended.Wait(0);
      if (!ended) pass->abandoned = true;
    }
    if (ended) {
      connect.join();
    } else {
      // Stuck in a server call, holding g_ConfigMutex: nothing here can be
      // torn down under it. The pass keeps its client; the process is
      // ending.
      DebugOutput("Terminating Connect Thread\n");
      connect.detach();
      client.release();
      CAlarmEntrySupply* self = this;
      g_pAlarmEntrySupply.compare_exchange_strong(self, nullptr);
      if (g_pConnectionManager == this) g_pConnectionManager = nullptr;
      return;
    }
  }
  Disconnect();
  bindingStopEvent.Set();
  std::thread binding;
  {
    std::lock_guard lock(threadMutex_);
    binding = std::move(bindingThread_);
  }
  if (binding.joinable()) binding.join();

  CAlarmEntrySupply* self = this;
  g_pAlarmEntrySupply.compare_exchange_strong(self, nullptr);
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  client.reset();
  if (g_pConnectionManager == this) g_pConnectionManager = nullptr;
}

bool ConnectionManager::ReadSettings(std::string& serverName, DWORD& updateRateMs) {
  serverName = LoadResourceString(kStringDefaultServer);
  updateRateMs = kDefaultUpdateRateMs;
  HKEY configData = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kConfigDataKey, KEY_READ, &configData) != ERROR_SUCCESS) return false;
  std::string name;
  if (RegGetString(configData, "Item0", "ServerName", name) != ERROR_SUCCESS || name.size() > kMaxServerNameBytes)
    name.clear();
  serverName = name;
  RegGetDword(configData, "Item0", "UpdateRateMS", updateRateMs);
  RegCloseKey(configData);
  return true;
}

bool ConnectionManager::WriteSettings(const std::string& serverName, DWORD updateRateMs) {
  RegDeleteTree(HKEY_LOCAL_MACHINE, kItemKey);
  HKEY configData = nullptr;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, kConfigDataCreateKey, KEY_ALL_ACCESS, &configData, nullptr) !=
      ERROR_SUCCESS)
    return false;
  HKEY item = nullptr;
  LONG result = RegCreateKeyEx(configData, "Item0", KEY_ALL_ACCESS, &item, nullptr);
  RegCloseKey(configData);
  if (result != ERROR_SUCCESS) return false;
  RegSetValueEx(item, "ServerName", REG_SZ, reinterpret_cast<const BYTE*>(serverName.c_str()),
                static_cast<DWORD>(serverName.size() + 1));
  RegSetValueEx(item, "UpdateRatems", REG_DWORD, reinterpret_cast<const BYTE*>(&updateRateMs), sizeof updateRateMs);
  RegCloseKey(item);
  return true;
}

std::string ConnectionManager::StateText(int32_t state) {
  switch (state) {
    case kConnected: return LoadResourceString(kStringConnected);
    case kNotConnected: return LoadResourceString(kStringNotConnected);
    case kInvalidServer: return LoadResourceString(kStringInvalidServer);
    case kConnecting: return LoadResourceString(kStringConnecting);
    default: return {};
  }
}

void ConnectionManager::SetProcessorStarter(std::function<bool(DWORD)> starter) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  starter_ = std::move(starter);
}

void ConnectionManager::StartProcessor() {
  if (starter_ && client) starter_(client->syncIOCookie);
}

void ConnectionManager::Connect() {
  std::lock_guard lock(threadMutex_);
  int32_t state = connectionState;
  if (state == kConnected || state == kConnecting || connectRunning_ || closing_) return;
  // A pass that has decided only has to leave g_ConfigMutex and return.
  if (connectThread_.joinable()) connectThread_.join();
  connectionState = kConnecting;
  connectRunning_ = true;
  pass_ = std::make_shared<Pass>();
  connectThread_ = std::thread(&ConnectionManager::ConnectPass, this, pass_);
}

void ConnectionManager::ConnectPass(const std::shared_ptr<Pass>& pass) {
  std::unique_lock passLock(pass->mutex);
  std::string serverName;
  DWORD updateRateMs = 0;
  ReadSettings(serverName, updateRateMs);
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    client.reset();
    client = std::make_unique<C_OPC_DA_Client>();
    C_OPC_DA_Client* fresh = client.get();
    passLock.unlock();
    HRESULT hr = fresh->ConnectFresh(serverName, updateRateMs);
    passLock.lock();
    if (pass->abandoned) {
      // The manager is gone: only the pass's own client is left to end.
      delete fresh;
      pass->ended.Set();
      return;
    }
    StartProcessor();
    int32_t state = kNotConnected;
    if (hr == S_OK) {
      int32_t built = BuildSourcesForVariable(serverName);
      lastSourceBuildResult = built;
      if (built == kSourceBuildOk) {
        state = kConnected;
        ActivateGroup();
      } else if (built == kSourceBuildNotRun || built == kSourceBuildNoEntries) {
        state = kInvalidServer;
      }
    }
    // Connecting is shown until the pass has decided.
    if (state != kConnected) DropConnection();
    {
      // Together, so that a Connect right after this pass is not lost.
      std::lock_guard lock(threadMutex_);
      connectionState = state;
      connectRunning_ = false;
    }
    if (state == kConnected) StartBindingThread();
  }
  pass->ended.Set();
}

void ConnectionManager::ActivateGroup() {
  if (!client) return;
  ComPtr<IOPCGroupStateMgt> groupState;
  if (g_pGlobalInterfaceTable &&
      SUCCEEDED(g_pGlobalInterfaceTable->GetInterfaceFromGlobal(client->groupStateCookie, IID_IOPCGroupStateMgt,
                                                                groupState.PutVoid()))) {
    DWORD revisedRate = 0;
    BOOL active = true;
    OPCHANDLE clientGroup = client->serverGroup;
    groupState->SetState(nullptr, &revisedRate, &active, nullptr, nullptr, nullptr, &clientGroup);
  }
  client->active = 1;
}

void ConnectionManager::Disconnect() {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  DropConnection();
  connectionState = kNotConnected;
}

void ConnectionManager::DropConnection() {
  if (client) {
    client->active = 0;
    client.reset();
  }
  bindingState = kBindingIdle;
  alarmRequests.Clear();
  // The connection has one server, so every alarm source is its source.
  SetQualityForSources(std::string(), OPC_QUALITY_BAD);
}

bool ConnectionManager::IsIdle() const {
  return connectionState != kConnecting && bindingState != kBindingRunning;
}

void ConnectionManager::StartBindingThread() {
  int32_t binding = bindingState;
  if (connectionState != kConnected || (binding != kBindingIdle && binding != kBindingFailed)) return;
  std::lock_guard lock(threadMutex_);
  if (bindingRunning_ || closing_) return;
  // A thread that has ended only has to return.
  if (bindingThread_.joinable()) bindingThread_.join();
  bindingStopEvent.Reset();
  bindingRunning_ = true;
  bindingThread_ = std::thread(&ConnectionManager::BindingLoop, this);
}

void ConnectionManager::BindingLoop() {
  while (!bindingStopEvent.Wait(bindingRateMs)) {
    int32_t binding = bindingState;
    if (connectionState == kConnected && (binding == kBindingIdle || binding == kBindingFailed)) BindingTick();
  }
  bindingDoneEvent.Set();
  std::lock_guard lock(threadMutex_);
  bindingRunning_ = false;
}

void ConnectionManager::BindingTick() {
  bindingState = kBindingRunning;
  bindingDoneEvent.Reset();
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  // Disconnect (or the destructor) may have run since the loop looked: a
  // tick must not build a connection that nobody wants any more.
  if (connectionState != kConnected) {
    bindingState = kBindingIdle;
    return;
  }
  std::string serverName;
  DWORD updateRateMs = 0;
  ReadSettings(serverName, updateRateMs);
  HRESULT hr = S_OK;
  if (!client) client.reset(new (std::nothrow) C_OPC_DA_Client());
  if (!client) {
    hr = E_OUTOFMEMORY;
  } else if (!g_pGlobalInterfaceTable) {
    hr = E_FAIL;
  } else {
    hr = client->ConnectOrRefresh(serverName, updateRateMs);
    if (SUCCEEDED(hr)) StartProcessor();
  }
  if (SUCCEEDED(hr)) {
    ActivateGroup();
    bindingState = kBindingIdle;
  } else {
    bindingState = kBindingFailed;
  }
}

int32_t ConnectionManager::GetConditionEntries(const std::string& /*name*/, AlarmConditionEntries& entries) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  if (!client) return 0;
  AlarmConditionEntry work[kEntriesPerCall];
  ConditionEntryPosition position;
  bool done = false;
  int32_t error = 0;
  while (!done) {
    size_t count = 0;
    error = client->GetConditionEntries(position, kEntriesPerCall, work, count, done);
    if (error != 0) break;
    for (size_t i = 0; i <= count && i < kEntriesPerCall; ++i) {
      if (!work[i].sourceName.empty()) entries.push_back(std::make_unique<AlarmConditionEntry>(work[i]));
    }
  }
  return error;
}

int32_t ConnectionManager::GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  if (client) client->GetNodeConditionEntries(nodeName, entries);
  return 0;
}

AlarmVar* ConnectionManager::FindVariable(const std::string& itemId) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  return client ? client->FindVariable(itemId) : nullptr;
}

HRESULT ConnectionManager::WriteAcknowledgement(CAECondition* condition, CDerivedSource* source,
                                                std::string& resultText) {
  if (!condition || !source) return E_INVALIDARG;
  if (connectionState != kConnected) {
    resultText = AckNotConnectedText();
    return 1;
  }
  TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  if (!g_pGlobalInterfaceTable || !client) return E_FAIL;
  ComPtr<IOPCSyncIO> syncIO;
  HRESULT hr = g_pGlobalInterfaceTable->GetInterfaceFromGlobal(client->syncIOCookie, IID_IOPCSyncIO,
                                                               syncIO.PutVoid());
  if (FAILED(hr)) return hr;

  // The activation the client acknowledged, not the condition's latest: an
  // activation that came after the acknowledgement must not be acknowledged
  // in the controller on the client's behalf.
  FILETIME held = source->LastActiveTime();
  FILETIME incoming = condition->AcknowledgedActiveTime();
  if (!(held == incoming)) {
    resultText = AckTimeMismatchText(held, incoming);
    return S_OK;
  }
  AlarmVar* variable = source->Variable();
  if (!variable) return E_FAIL;
  std::string itemId = MakeItemId(variable->nodeName, variable->BlockName()) + ".FC";
  AlarmVar* word = FindVariable(itemId);
  if (!word) {
    resultText = AckNoVariableText(itemId);
    return S_OK;
  }

  LONG value = (LONG{source->StateFlags()} << 8) | (variable->KindSuffix() == ".RS" ? 2 : 1);
  VARIANT data = VARIANT::I4(value);
  OPCHANDLE handle = word->serverHandle;
  COpcTaskArray<HRESULT> errors(1);
  hr = syncIO->Write(1, &handle, &data, errors.Put());
  resultText = AckWriteResultText(hr, errors ? errors[0] : S_OK);
  return hr;
}
