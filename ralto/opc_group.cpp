#include "ralto/opc_group.h"

#include <cmath>
#include <new>

#include "ralto/opc_connection_point.h"
#include "ralto/opc_faults.h"
#include "ralto/opc_group_table.h"
#include "ralto/opc_plant.h"
#include "ralto/opc_server.h"
#include "ralto/opc_update_scheduler.h"

namespace {

HRESULT Injected(RaltoOpcCall call) { return CRaltoOpcFaults::Instance().Check(call); }

// `to` is a type the item's values can be read as.
bool Convertible(VARTYPE canonical, VARTYPE to) {
  if (to == VT_EMPTY || to == canonical) return true;
  VARIANT probe;
  probe.vt = canonical;
  HRESULT hr = probe.ChangeType(to);
  return hr != DISP_E_TYPEMISMATCH && hr != DISP_E_BADVARTYPE;
}

// The item's value as `requested` (VT_EMPTY: canonical); *error gets the
// conversion's failure (value then VT_EMPTY).
VARIANT ValueAs(const RaltoItem& item, VARTYPE requested, HRESULT* error) {
  VARIANT value = CRaltoAddressSpace::ValueOf(item);
  *error = S_OK;
  if (requested == VT_EMPTY || requested == item.type) return value;
  HRESULT hr = value.ChangeType(requested);
  if (FAILED(hr)) {
    *error = hr == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE;
    value.Clear();
  }
  return value;
}

bool ValidDeadband(const float* deadband) {
  return !deadband || (std::isfinite(*deadband) && *deadband >= 0 && *deadband <= 100);
}

}  // namespace

DWORD CRaltoOpcGroup::ReviseRate(DWORD requested) {
  constexpr DWORD kMax = 0xFFFFFFFF / kRaltoOpcRateStepMs * kRaltoOpcRateStepMs;
  if (requested <= kRaltoOpcRateStepMs) return kRaltoOpcRateStepMs;
  if (requested >= kMax) return kMax;
  return (requested + kRaltoOpcRateStepMs - 1) / kRaltoOpcRateStepMs * kRaltoOpcRateStepMs;
}

bool CRaltoOpcGroup::Implements(const IID& riid) {
  return riid == IID_IUnknown || riid == IID_IOPCItemMgt || riid == IID_IOPCGroupStateMgt ||
         riid == IID_IOPCSyncIO || riid == IID_IConnectionPointContainer;
}

CRaltoOpcGroup::CRaltoOpcGroup(std::shared_ptr<CRaltoGroupTable> table, State state)
    : table_(std::move(table)), plant_(CRaltoPlant::Instance()), state_(std::move(state)) {
  CRaltoUpdateScheduler::Instance().Register(this, state_.updateRateMs, state_.active);
}

CRaltoOpcGroup::~CRaltoOpcGroup() { CRaltoUpdateScheduler::Instance().Unregister(this); }

HRESULT CRaltoOpcGroup::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (CRaltoOpcFaults::Instance().IsHidden(iid)) return E_NOINTERFACE;
  if (iid == IID_IUnknown || iid == IID_IOPCItemMgt) {
    *object = static_cast<IOPCItemMgt*>(this);
  } else if (iid == IID_IOPCGroupStateMgt) {
    *object = static_cast<IOPCGroupStateMgt*>(this);
  } else if (iid == IID_IOPCSyncIO) {
    *object = static_cast<IOPCSyncIO*>(this);
  } else if (iid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CRaltoOpcGroup::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG CRaltoOpcGroup::Release() {
  ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

bool CRaltoOpcGroup::TryAddRef() {
  ULONG count = refs_.load(std::memory_order_relaxed);
  while (count != 0) {
    if (refs_.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) return true;
  }
  return false;
}

// ---- IOPCItemMgt ------------------------------------------------------------

HRESULT CRaltoOpcGroup::Resolve(const OPCITEMDEF& def, uint32_t* plantIndex, OPCITEMRESULT* result) const {
  if (!def.szItemID || !*def.szItemID) return OPC_E_INVALIDITEMID;
  if (def.szAccessPath && *def.szAccessPath) return OPC_E_UNKNOWNPATH;
  if (CRaltoOpcFaults::Instance().IsRejected(def.szItemID)) return OPC_E_UNKNOWNITEMID;
  const CRaltoAddressSpace& items = plant_.Items();
  uint32_t index = items.Find(def.szItemID);
  if (index == CRaltoAddressSpace::kNoItem || !items.at(index).present) return OPC_E_UNKNOWNITEMID;
  const RaltoItem& item = items.at(index);
  if (!Convertible(item.type, def.vtRequestedDataType)) return OPC_E_BADTYPE;
  *plantIndex = index;
  result->vtCanonicalDataType = item.type;
  result->dwAccessRights = item.rights;
  return S_OK;
}

HRESULT CRaltoOpcGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                 HRESULT** ppErrors) {
  return ValidateOrAdd(RALTO_CALL_ADDITEMS, true, dwCount, pItemArray, ppAddResults, ppErrors);
}

HRESULT CRaltoOpcGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL,
                                      OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  return ValidateOrAdd(RALTO_CALL_VALIDATEITEMS, false, dwCount, pItemArray, ppValidationResults,
                       ppErrors);
}

HRESULT CRaltoOpcGroup::ValidateOrAdd(RaltoOpcCall call, bool add, DWORD count, OPCITEMDEF* defs,
                                      OPCITEMRESULT** ppResults, HRESULT** ppErrors) {
  if (!ppResults || !ppErrors) return E_INVALIDARG;
  *ppResults = nullptr;
  *ppErrors = nullptr;
  if (HRESULT hr = Injected(call); FAILED(hr)) return hr;
  if (count == 0 || !defs) return E_INVALIDARG;
  OPCITEMRESULT* results = OpcAllocArray<OPCITEMRESULT>(count);
  HRESULT* errors = OpcAllocArray<HRESULT>(count);
  if (!results || !errors) {
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  HRESULT result = S_OK;
  {
    std::lock_guard lock(mutex_);
    auto plantLock = plant_.Lock();
    for (DWORD i = 0; i < count; ++i) {
      uint32_t index = 0;
      errors[i] = Resolve(defs[i], &index, &results[i]);
      if (FAILED(errors[i])) {
        result = S_FALSE;
        continue;
      }
      if (!add) continue;
      items_.push_back(GroupItem{index, defs[i].hClient, defs[i].vtRequestedDataType,
                                 defs[i].bActive != false, true, 0});
      results[i].hServer = static_cast<OPCHANDLE>(items_.size());
    }
  }
  *ppResults = results;
  *ppErrors = errors;
  return result;
}

CRaltoOpcGroup::GroupItem* CRaltoOpcGroup::Find(OPCHANDLE handle) {
  if (handle == 0 || handle > items_.size() || !items_[handle - 1].valid) return nullptr;
  return &items_[handle - 1];
}

template <class Each>
HRESULT CRaltoOpcGroup::ForHandles(RaltoOpcCall call, DWORD count, OPCHANDLE* handles,
                                   HRESULT** ppErrors, Each each) {
  if (!ppErrors) return E_INVALIDARG;
  *ppErrors = nullptr;
  if (HRESULT hr = Injected(call); FAILED(hr)) return hr;
  if (count == 0 || !handles) return E_INVALIDARG;
  HRESULT* errors = OpcAllocArray<HRESULT>(count);
  if (!errors) return E_OUTOFMEMORY;
  HRESULT result = S_OK;
  {
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < count; ++i) {
      GroupItem* item = Find(handles[i]);
      errors[i] = item ? each(i, *item) : OPC_E_INVALIDHANDLE;
      if (FAILED(errors[i])) result = S_FALSE;
    }
  }
  *ppErrors = errors;
  return result;
}

HRESULT CRaltoOpcGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  return ForHandles(RALTO_CALL_REMOVEITEMS, dwCount, phServer, ppErrors, [](DWORD, GroupItem& item) {
    item.valid = false;
    return S_OK;
  });
}

HRESULT CRaltoOpcGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                       HRESULT** ppErrors) {
  bool active = bActive != false;
  return ForHandles(RALTO_CALL_SETACTIVESTATE, dwCount, phServer, ppErrors,
                    [active](DWORD, GroupItem& item) {
                      // An item that becomes active reports its current value.
                      if (active && !item.active) item.sentSeq = 0;
                      item.active = active;
                      return S_OK;
                    });
}

HRESULT CRaltoOpcGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                         HRESULT** ppErrors) {
  if (!phClient && ppErrors) {
    *ppErrors = nullptr;
    return E_INVALIDARG;
  }
  return ForHandles(RALTO_CALL_SETCLIENTHANDLES, dwCount, phServer, ppErrors,
                    [phClient](DWORD i, GroupItem& item) {
                      item.client = phClient[i];
                      return S_OK;
                    });
}

HRESULT CRaltoOpcGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                     HRESULT** ppErrors) {
  if (!pRequestedDatatypes && ppErrors) {
    *ppErrors = nullptr;
    return E_INVALIDARG;
  }
  return ForHandles(RALTO_CALL_SETDATATYPES, dwCount, phServer, ppErrors,
                    [this, pRequestedDatatypes](DWORD i, GroupItem& item) {
                      VARTYPE canonical;
                      {
                        auto plantLock = plant_.Lock();
                        canonical = plant_.Items().at(item.plantIndex).type;
                      }
                      if (!Convertible(canonical, pRequestedDatatypes[i])) return OPC_E_BADTYPE;
                      item.requested = pRequestedDatatypes[i];
                      item.sentSeq = 0;  // reported again in the new type
                      return S_OK;
                    });
}

HRESULT CRaltoOpcGroup::CreateEnumerator(const IID&, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}

// ---- IOPCGroupStateMgt ------------------------------------------------------

HRESULT CRaltoOpcGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, char** ppName, LONG* pTimeBias,
                                 float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                 OPCHANDLE* phServerGroup) {
  if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
      !phClientGroup || !phServerGroup) {
    return E_INVALIDARG;
  }
  *ppName = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_GETSTATE); FAILED(hr)) return hr;
  std::lock_guard lock(mutex_);
  char* name = CoTaskMemStrDup(state_.name);
  if (!name) return E_OUTOFMEMORY;
  *pUpdateRate = state_.updateRateMs;
  *pActive = state_.active ? true : false;
  *ppName = name;
  *pTimeBias = state_.timeBias;
  *pPercentDeadband = state_.percentDeadband;
  *pLCID = state_.lcid;
  *phClientGroup = state_.clientGroup;
  *phServerGroup = state_.serverGroup;
  return S_OK;
}

HRESULT CRaltoOpcGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                 LONG* pTimeBias, float* pPercentDeadband, DWORD* pLCID,
                                 OPCHANDLE* phClientGroup) {
  if (!pRevisedUpdateRate) return E_INVALIDARG;
  if (HRESULT hr = Injected(RALTO_CALL_SETSTATE); FAILED(hr)) return hr;
  if (!ValidDeadband(pPercentDeadband)) return E_INVALIDARG;
  HRESULT result = S_OK;
  std::lock_guard lock(mutex_);
  if (pRequestedUpdateRate) {
    state_.updateRateMs = ReviseRate(*pRequestedUpdateRate);
    if (state_.updateRateMs != *pRequestedUpdateRate) result = OPC_S_UNSUPPORTEDRATE;
  }
  if (pActive) {
    bool active = *pActive != false;
    // A group that becomes active reports the current value of every active item.
    if (active && !state_.active) {
      for (GroupItem& item : items_) item.sentSeq = 0;
    }
    state_.active = active;
  }
  if (pTimeBias) state_.timeBias = *pTimeBias;
  if (pPercentDeadband) state_.percentDeadband = *pPercentDeadband;
  if (pLCID) state_.lcid = *pLCID;
  if (phClientGroup) state_.clientGroup = *phClientGroup;
  *pRevisedUpdateRate = state_.updateRateMs;
  CRaltoUpdateScheduler::Instance().Update(this, state_.updateRateMs, state_.active);
  return result;
}

HRESULT CRaltoOpcGroup::SetName(const char* szName) {
  if (!szName || !*szName) return E_INVALIDARG;
  if (HRESULT hr = Injected(RALTO_CALL_SETNAME); FAILED(hr)) return hr;
  OPCHANDLE handle;
  {
    std::lock_guard lock(mutex_);
    handle = state_.serverGroup;
  }
  if (HRESULT hr = table_->Rename(handle, szName); FAILED(hr)) return hr;
  std::lock_guard lock(mutex_);
  state_.name = szName;
  return S_OK;
}

HRESULT CRaltoOpcGroup::CloneGroup(const char*, const IID&, IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}

// ---- IOPCSyncIO -------------------------------------------------------------

HRESULT CRaltoOpcGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                             OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (!ppItemValues || !ppErrors) return E_INVALIDARG;
  *ppItemValues = nullptr;
  *ppErrors = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_READ); FAILED(hr)) return hr;
  if (dwCount == 0 || !phServer || (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE)) {
    return E_INVALIDARG;
  }
  OPCITEMSTATE* states = OpcAllocConstructed<OPCITEMSTATE>(dwCount);
  HRESULT* errors = OpcAllocArray<HRESULT>(dwCount);
  if (!states || !errors) {
    OpcFreeItemStates(states, dwCount);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  HRESULT result = S_OK;
  {
    std::lock_guard lock(mutex_);
    auto plantLock = plant_.Lock();
    const CRaltoAddressSpace& items = plant_.Items();
    for (DWORD i = 0; i < dwCount; ++i) {
      GroupItem* groupItem = Find(phServer[i]);
      if (!groupItem) {
        errors[i] = OPC_E_INVALIDHANDLE;
      } else if (!items.at(groupItem->plantIndex).present) {
        errors[i] = OPC_E_UNKNOWNITEMID;
      } else {
        const RaltoItem& item = items.at(groupItem->plantIndex);
        OPCITEMSTATE& state = states[i];
        state.hClient = groupItem->client;
        state.ftTimeStamp = item.time;
        state.vDataValue = ValueAs(item, groupItem->requested, &errors[i]);
        // The cache of an inactive group or item is out of service; the device is always read.
        bool inService = dwSource == OPC_DS_DEVICE || (state_.active && groupItem->active);
        state.wQuality = FAILED(errors[i]) ? OPC_QUALITY_BAD
                                           : (inService ? OPC_QUALITY_GOOD : OPC_QUALITY_OUT_OF_SERVICE);
      }
      if (FAILED(errors[i])) result = S_FALSE;
    }
  }
  *ppItemValues = states;
  *ppErrors = errors;
  return result;
}

HRESULT CRaltoOpcGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
  if (!pItemValues && ppErrors) {
    *ppErrors = nullptr;
    return E_INVALIDARG;
  }
  return ForHandles(RALTO_CALL_WRITE, dwCount, phServer, ppErrors,
                    [this, pItemValues](DWORD i, GroupItem& item) {
                      return plant_.Write(item.plantIndex, pItemValues[i]);
                    });
}

// ---- Connection point -------------------------------------------------------

HRESULT CRaltoOpcGroup::EnumConnectionPoints(IEnumConnectionPoints** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

HRESULT CRaltoOpcGroup::FindConnectionPoint(const IID& iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_FINDCONNECTIONPOINT); FAILED(hr)) return hr;
  if (iid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
  auto* connectionPoint = new (std::nothrow) CRaltoDataConnectionPoint(this);
  if (!connectionPoint) return E_OUTOFMEMORY;
  *point = connectionPoint;
  return S_OK;
}

HRESULT CRaltoOpcGroup::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (HRESULT hr = Injected(RALTO_CALL_ADVISE); FAILED(hr)) return hr;
  {
    std::lock_guard lock(mutex_);
    if (sink_) return CONNECT_E_ADVISELIMIT;
  }
  // Asked without the lock: the sink is client code.
  ComPtr<IOPCDataCallback> callback;
  if (FAILED(sink->QueryInterface(IID_IOPCDataCallback, callback.PutVoid())) || !callback) {
    return CONNECT_E_CANNOTCONNECT;
  }
  std::lock_guard lock(mutex_);
  if (sink_) return CONNECT_E_ADVISELIMIT;
  sink_ = std::move(callback);
  *cookie = ++cookie_;
  return S_OK;
}

HRESULT CRaltoOpcGroup::Unadvise(DWORD cookie) {
  if (HRESULT hr = Injected(RALTO_CALL_UNADVISE); FAILED(hr)) return hr;
  ComPtr<IOPCDataCallback> sink;
  {
    std::lock_guard lock(mutex_);
    if (!sink_ || cookie != cookie_) return CONNECT_E_NOCONNECTION;
    sink = std::move(sink_);
  }
  return S_OK;  // the sink is released here, outside the lock
}

// ---- Update cycle -----------------------------------------------------------

void CRaltoOpcGroup::MarkRemoved() {
  std::lock_guard lock(mutex_);
  removed_ = true;
}

void CRaltoOpcGroup::DeliverChanges() {
  ComPtr<IOPCDataCallback> sink;
  OPCHANDLE clientGroup;
  std::vector<OPCHANDLE> handles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> times;
  std::vector<HRESULT> errors;
  HRESULT masterQuality = S_OK;
  HRESULT masterError = S_OK;
  {
    std::lock_guard lock(mutex_);
    if (!state_.active || removed_ || !sink_) return;
    sink = sink_;
    clientGroup = state_.clientGroup;
    auto plantLock = plant_.Lock();
    const CRaltoAddressSpace& items = plant_.Items();
    for (GroupItem& groupItem : items_) {
      if (!groupItem.valid || !groupItem.active) continue;
      const RaltoItem& item = items.at(groupItem.plantIndex);
      if (!item.present || item.changeSeq <= groupItem.sentSeq) continue;
      groupItem.sentSeq = item.changeSeq;
      HRESULT error;
      handles.push_back(groupItem.client);
      values.push_back(ValueAs(item, groupItem.requested, &error));
      WORD quality = FAILED(error) ? OPC_QUALITY_BAD : OPC_QUALITY_GOOD;
      qualities.push_back(quality);
      times.push_back(item.time);
      errors.push_back(error);
      if (quality != OPC_QUALITY_GOOD) masterQuality = S_FALSE;
      if (error != S_OK) masterError = S_FALSE;
    }
  }
  if (handles.empty()) return;
  sink->OnDataChange(0, clientGroup, masterQuality, masterError, static_cast<DWORD>(handles.size()),
                     handles.data(), values.data(), qualities.data(), times.data(), errors.data());
  table_->NoteUpdate(GetSystemTimeAsFileTime());
}
