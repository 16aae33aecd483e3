#include "ralto/opc_server_object.h"

#include <cmath>
#include <new>
#include <string_view>

#include "ralto/opc_control_bus_service.h"
#include "ralto/opc_enum_string.h"
#include "ralto/opc_error_text.h"
#include "ralto/opc_faults.h"
#include "ralto/opc_group.h"
#include "ralto/opc_group_table.h"
#include "ralto/opc_item_filter.h"
#include "ralto/opc_plant.h"
#include "ralto/opc_update_scheduler.h"

namespace {

constexpr char kVendorInfo[] = "Ralto OPC DA Server (simulated controllers)";
constexpr WORD kMajorVersion = 1;
constexpr WORD kMinorVersion = 0;
constexpr WORD kBuildNumber = 0;
constexpr LCID kLocaleNeutral = 0x0000;
constexpr LCID kLocaleUserDefault = 0x0400;
constexpr LCID kLocaleSystemDefault = 0x0800;

HRESULT Injected(RaltoOpcCall call) { return CRaltoOpcFaults::Instance().Check(call); }

// Texts are English: the neutral and default locales and any English one.
bool KnownLocale(LCID locale) {
  return locale == kLocaleNeutral || locale == kLocaleUserDefault || locale == kLocaleSystemDefault ||
         (locale & 0x3FF) == 0x09;
}

HRESULT HandOutEnumerator(CRaltoEnumString::List list, IEnumString** out) {
  bool empty = list->empty();
  auto* enumerator = new (std::nothrow) CRaltoEnumString(std::move(list));
  if (!enumerator) return E_OUTOFMEMORY;
  *out = enumerator;
  return empty ? S_FALSE : S_OK;
}

}  // namespace

CRaltoOpcServer::CRaltoOpcServer()
    : groups_(std::make_shared<CRaltoGroupTable>()), startTime_(GetSystemTimeAsFileTime()) {
  CRaltoPlant::Instance();  // the plant loads its documents with the first server
  CRaltoControlBus::Instance().Start();
}

CRaltoOpcServer::~CRaltoOpcServer() { groups_->Clear(); }

HRESULT CRaltoOpcServer::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (CRaltoOpcFaults::Instance().IsHidden(iid)) return E_NOINTERFACE;
  if (iid == IID_IUnknown || iid == IID_IOPCServer) {
    *object = static_cast<IOPCServer*>(this);
  } else if (iid == IID_IOPCBrowseServerAddressSpace) {
    *object = static_cast<IOPCBrowseServerAddressSpace*>(this);
  } else if (iid == IID_IRaltoOpcControl) {
    *object = static_cast<IRaltoOpcControl*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CRaltoOpcServer::AddRef() { return refs_.Increment(); }

ULONG CRaltoOpcServer::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

// ---- IOPCServer -------------------------------------------------------------

HRESULT CRaltoOpcServer::AddGroup(const char* szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                  OPCHANDLE hClientGroup, LONG* pTimeBias, float* pPercentDeadband,
                                  DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                  const IID& riid, IUnknown** ppUnk) {
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
  *phServerGroup = 0;
  *pRevisedUpdateRate = 0;
  *ppUnk = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_ADDGROUP); FAILED(hr)) return hr;
  if (pPercentDeadband &&
      (!std::isfinite(*pPercentDeadband) || *pPercentDeadband < 0 || *pPercentDeadband > 100)) {
    return E_INVALIDARG;
  }
  if (!CRaltoOpcGroup::Implements(riid) || CRaltoOpcFaults::Instance().IsHidden(riid)) return E_NOINTERFACE;

  CRaltoOpcGroup::State state;
  OPCHANDLE handle = 0;
  if (HRESULT hr = groups_->Reserve(szName, &state.name, &handle); FAILED(hr)) return hr;
  state.serverGroup = handle;
  state.clientGroup = hClientGroup;
  state.active = bActive != false;
  state.updateRateMs = CRaltoOpcGroup::ReviseRate(dwRequestedUpdateRate);
  state.timeBias = pTimeBias ? *pTimeBias : 0;
  state.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0;
  state.lcid = dwLCID;
  DWORD revised = state.updateRateMs;
  auto* group = new (std::nothrow) CRaltoOpcGroup(groups_, std::move(state));
  if (!group) {
    groups_->Cancel(handle);
    return E_OUTOFMEMORY;
  }
  HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  if (FAILED(hr)) {
    groups_->Cancel(handle);
    group->Release();
    return hr;
  }
  groups_->Attach(handle, group);  // the creation reference is the server's
  *phServerGroup = handle;
  *pRevisedUpdateRate = revised;
  return revised == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT CRaltoOpcServer::GetErrorString(HRESULT dwError, LCID dwLocale, char** ppString) {
  if (!ppString) return E_INVALIDARG;
  *ppString = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_GETERRORSTRING); FAILED(hr)) return hr;
  const char* text = RaltoOpcErrorText(dwError);
  if (!text || !KnownLocale(dwLocale)) return E_INVALIDARG;
  *ppString = CoTaskMemStrDup(text);
  return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT CRaltoOpcServer::GetGroupByName(const char* szName, const IID& riid, IUnknown** ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_GETGROUPBYNAME); FAILED(hr)) return hr;
  if (!szName) return E_INVALIDARG;
  ComPtr<CRaltoOpcGroup> group = groups_->Find(szName);
  if (!group) return E_INVALIDARG;
  return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT CRaltoOpcServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (!ppServerStatus) return E_INVALIDARG;
  *ppServerStatus = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_GETSTATUS); FAILED(hr)) return hr;
  OPCSERVERSTATUS* status = OpcAllocArray<OPCSERVERSTATUS>(1);
  char* vendor = CoTaskMemStrDup(kVendorInfo);
  if (!status || !vendor) {
    CoTaskMemFree(status);
    CoTaskMemFree(vendor);
    return E_OUTOFMEMORY;
  }
  status->ftStartTime = startTime_;
  status->ftCurrentTime = GetSystemTimeAsFileTime();
  status->ftLastUpdateTime = groups_->LastUpdate();
  status->dwServerState = OPC_STATUS_RUNNING;
  status->dwGroupCount = groups_->Count();
  status->dwBandWidth = 0xFFFFFFFF;
  status->wMajorVersion = kMajorVersion;
  status->wMinorVersion = kMinorVersion;
  status->wBuildNumber = kBuildNumber;
  status->szVendorInfo = vendor;
  *ppServerStatus = status;
  return S_OK;
}

HRESULT CRaltoOpcServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  if (HRESULT hr = Injected(RALTO_CALL_REMOVEGROUP); FAILED(hr)) return hr;
  CRaltoOpcGroup* group = groups_->Take(hServerGroup);
  if (!group) return E_INVALIDARG;
  group->MarkRemoved();
  ULONG left = group->Release();
  return left > 0 && !bForce ? OPC_S_INUSE : S_OK;
}

HRESULT CRaltoOpcServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, const IID& riid, IUnknown** ppUnk) {
  if (!ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_CREATEGROUPENUMERATOR); FAILED(hr)) return hr;
  if (dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL) return E_INVALIDARG;
  if (riid != IID_IEnumString) return E_NOINTERFACE;
  // Every group is private: the public scopes list none.
  bool publicOnly = dwScope == OPC_ENUM_PUBLIC_CONNECTIONS || dwScope == OPC_ENUM_PUBLIC;
  auto names = std::make_shared<std::vector<std::string>>();
  if (!publicOnly) *names = groups_->Names();
  return HandOutEnumerator(std::move(names), reinterpret_cast<IEnumString**>(ppUnk));
}

// ---- IOPCBrowseServerAddressSpace -------------------------------------------

HRESULT CRaltoOpcServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType) return E_INVALIDARG;
  if (HRESULT hr = Injected(RALTO_CALL_QUERYORGANIZATION); FAILED(hr)) return hr;
  *pNameSpaceType = OPC_NS_FLAT;
  return S_OK;
}

HRESULT CRaltoOpcServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const char* szString) {
  if (HRESULT hr = Injected(RALTO_CALL_CHANGEBROWSEPOSITION); FAILED(hr)) return hr;
  if (dwBrowseDirection < OPC_BROWSE_UP || dwBrowseDirection > OPC_BROWSE_TO) return E_INVALIDARG;
  // A flat space has only its root.
  bool toRoot = dwBrowseDirection == OPC_BROWSE_TO && (!szString || !*szString);
  return toRoot ? S_OK : E_FAIL;
}

HRESULT CRaltoOpcServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const char* szFilterCriteria,
                                          VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                          IEnumString** ppIEnumString) {
  if (!ppIEnumString) return E_INVALIDARG;
  *ppIEnumString = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_BROWSEOPCITEMIDS); FAILED(hr)) return hr;
  if (dwBrowseFilterType < OPC_BRANCH || dwBrowseFilterType > OPC_FLAT) return E_INVALIDARG;
  std::string_view filter = szFilterCriteria ? szFilterCriteria : "";
  if (!IsValidItemFilter(filter)) return OPC_E_INVALIDFILTER;

  CRaltoPlant& plant = CRaltoPlant::Instance();
  plant.Reload();  // unreadable documents leave the plant as it was
  CRaltoOpcFaults::Instance().EndRejections();

  CRaltoEnumString::List list;
  if (dwBrowseFilterType == OPC_BRANCH) {
    list = std::make_shared<std::vector<std::string>>();
  } else if (filter.empty() && vtDataTypeFilter == VT_EMPTY && dwAccessRightsFilter == 0) {
    list = plant.PresentIds();
  } else {
    auto ids = std::make_shared<std::vector<std::string>>();
    auto lock = plant.Lock();
    const CRaltoAddressSpace& items = plant.Items();
    for (uint32_t i = 0; i < items.size(); ++i) {
      const RaltoItem& item = items.at(i);
      if (!item.present || (vtDataTypeFilter != VT_EMPTY && item.type != vtDataTypeFilter) ||
          (dwAccessRightsFilter != 0 && (item.rights & dwAccessRightsFilter) == 0) ||
          !MatchItemFilter(item.id, filter)) {
        continue;
      }
      ids->push_back(item.id);
    }
    list = std::move(ids);
  }
  return HandOutEnumerator(std::move(list), ppIEnumString);
}

HRESULT CRaltoOpcServer::GetItemID(const char* szItemDataID, char** szItemID) {
  if (!szItemID) return E_INVALIDARG;
  *szItemID = nullptr;
  if (HRESULT hr = Injected(RALTO_CALL_GETITEMID); FAILED(hr)) return hr;
  if (!szItemDataID) return E_INVALIDARG;
  CRaltoPlant& plant = CRaltoPlant::Instance();
  {
    auto lock = plant.Lock();
    uint32_t index = plant.Items().Find(szItemDataID);
    if (index == CRaltoAddressSpace::kNoItem || !plant.Items().at(index).present) return E_INVALIDARG;
  }
  // In a flat space the short name is the item id.
  *szItemID = CoTaskMemStrDup(szItemDataID);
  return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT CRaltoOpcServer::BrowseAccessPaths(const char*, IEnumString** ppIEnumString) {
  if (ppIEnumString) *ppIEnumString = nullptr;
  return E_NOTIMPL;
}

// ---- IRaltoOpcControl -------------------------------------------------------

HRESULT CRaltoOpcServer::SetDocumentDirectory(const std::string& directory) {
  CRaltoOpcFaults::Instance().EndRejections();
  return CRaltoPlant::Instance().SetDocumentDirectory(directory);
}

HRESULT CRaltoOpcServer::ReloadDocuments() {
  CRaltoOpcFaults::Instance().EndRejections();
  return CRaltoPlant::Instance().Reload();
}

HRESULT CRaltoOpcServer::SetAlarm(const std::string& stateWordItemId, const RaltoAlarmSetting& alarm) {
  return CRaltoPlant::Instance().SetAlarm(stateWordItemId, alarm);
}

HRESULT CRaltoOpcServer::SetProcessValue(const std::string& blockId, double value) {
  return CRaltoPlant::Instance().SetProcessValue(blockId, value);
}

HRESULT CRaltoOpcServer::UseManualClock(FILETIME startUtc) {
  return CRaltoPlant::Instance().UseManualClock(startUtc);
}

HRESULT CRaltoOpcServer::AdvanceClock(DWORD ms) { return CRaltoPlant::Instance().AdvanceClock(ms); }

HRESULT CRaltoOpcServer::RunRandomPlant(DWORD changesPerSecond, DWORD seed) {
  return CRaltoPlant::Instance().RunRandomPlant(changesPerSecond, seed);
}

HRESULT CRaltoOpcServer::SetIncoherentUpdates(BOOL on) {
  return CRaltoPlant::Instance().SetIncoherentUpdates(on != false);
}

HRESULT CRaltoOpcServer::GetFcWrites(std::vector<RaltoFcWrite>* writes) {
  if (!writes) return E_POINTER;
  *writes = CRaltoPlant::Instance().FcWrites();
  return S_OK;
}

HRESULT CRaltoOpcServer::RejectItem(const std::string& itemId) {
  if (itemId.empty()) return E_INVALIDARG;
  CRaltoOpcFaults::Instance().Reject(itemId);
  return S_OK;
}

HRESULT CRaltoOpcServer::FailCall(RaltoOpcCall call, HRESULT result, DWORD skip, DWORD times) {
  return CRaltoOpcFaults::Instance().Fail(call, result, skip, times);
}

HRESULT CRaltoOpcServer::HideInterface(const IID& iid) {
  CRaltoOpcFaults::Instance().Hide(iid);
  return S_OK;
}

HRESULT CRaltoOpcServer::HangCall(RaltoOpcCall call) { return CRaltoOpcFaults::Instance().Hang(call); }

HRESULT CRaltoOpcServer::GetHungCallers(DWORD* count) {
  if (!count) return E_POINTER;
  *count = CRaltoOpcFaults::Instance().HungCallers();
  return S_OK;
}

HRESULT CRaltoOpcServer::ClearFailures() {
  CRaltoOpcFaults::Instance().Clear();
  return S_OK;
}

HRESULT CRaltoOpcServer::SetManualUpdates(BOOL on) {
  CRaltoUpdateScheduler::Instance().SetManual(on != false);
  return S_OK;
}

HRESULT CRaltoOpcServer::TickUpdates() {
  CRaltoUpdateScheduler::Instance().TickAll();
  return S_OK;
}
