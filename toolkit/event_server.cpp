#include "toolkit/event_server.h"

#include <algorithm>

#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/engine.h"
#include "toolkit/enumerator.h"
#include "toolkit/server_callback.h"
#include "toolkit/source_cache.h"
#include "toolkit/subscription.h"

namespace {

constexpr WORD kVersionMajor = 1;
constexpr WORD kVersionMinor = 0;
constexpr WORD kBuildNumber = 0;
constexpr LCID kEnglishUS = 0x0409;

// Takes a CoTaskMem string array from the callback into `out` and frees it.
void TakeStrings(char** array, DWORD count, std::vector<std::string>* out) {
  if (!array) return;
  for (DWORD i = 0; i < count; ++i) {
    if (out) out->push_back(array[i] ? array[i] : "");
    CoTaskMemFree(array[i]);
  }
  CoTaskMemFree(array);
}

bool IsKnown(const std::string& name, BOOL isArea) {
  return isArea ? g_SourceCache.HasArea(name) : g_SourceCache.GetSource(name) != nullptr;
}

// A zeroed array of `count` elements from the task allocator; null for none.
template <class T>
T* TaskArray(DWORD count) {
  if (count == 0) return nullptr;
  auto* array = static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)));
  if (array) std::fill_n(array, count, T{});
  return array;
}

}  // namespace

HRESULT CAEEventServer::Create(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* server = new CAEEventServer();
  CAEEngine& engine = CAEEngine::Instance();
  engine.Callback().OnClientConnect();
  engine.TraceLine(1, "client connected");
  HRESULT hr = server->QueryInterface(iid, object);
  server->Release();  // the creation reference; the object goes again when the query failed
  return hr;
}

CAEEventServer::CAEEventServer()
    : shutdownPoint_(*static_cast<IOPCEventServer*>(this), *this, IID_IOPCShutdown, 16) {
  CAEEngine& engine = CAEEngine::Instance();
  engine.AddServer(this);
  engine.Statistics().eventServers++;
}

CAEEventServer::~CAEEventServer() = default;

HRESULT CAEEventServer::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOPCEventServer) {
    *object = static_cast<IOPCEventServer*>(this);
  } else if (iid == IID_IOPCEventServer2) {
    *object = static_cast<IOPCEventServer2*>(this);
  } else if (iid == IID_IOPCCommon) {
    *object = static_cast<IOPCCommon*>(this);
  } else if (iid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CAEEventServer::AddRef() { return refs_.Increment(); }

ULONG CAEEventServer::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) {
    CAEEngine& engine = CAEEngine::Instance();
    engine.RemoveServer(this);
    engine.Statistics().eventServers--;
    shutdownPoint_.Clear();
    engine.Callback().OnClientDisconnect();
    engine.TraceLine(1, "client disconnected");
    delete this;
  }
  return left;
}

template <class F>
HRESULT CAEEventServer::Call(const char* method, F&& body) {
  HRESULT hr = body();
  CAEEngine::Instance().TraceCall(2, method, hr);
  return hr;
}

void CAEEventServer::NoteNotification() {
  lastUpdate_.store(FileTimeToUint64(CAEEngine::Instance().Clock().NowUtc()));
}

HRESULT CAEEventServer::GetStatus(OPCEVENTSERVERSTATUS* status) {
  return Call("IOPCEventServer::GetStatus", [&]() -> HRESULT {
    if (!status) return E_POINTER;
    CAEEngine& engine = CAEEngine::Instance();
    status->ftStartTime = engine.StartTime();
    status->ftCurrentTime = engine.Clock().NowUtc();
    status->ftLastUpdateTime = Uint64ToFileTime(lastUpdate_.load());
    status->dwServerState = engine.serverState.load();
    status->wMajorVersion = kVersionMajor;
    status->wMinorVersion = kVersionMinor;
    status->wBuildNumber = kBuildNumber;
    status->wReserved = 0;
    status->szVendorInfo = engine.Vendor();
    return S_OK;
  });
}

HRESULT CAEEventServer::CreateEventSubscription(BOOL active, DWORD bufferTime, DWORD maxSize,
                                                OPCHANDLE clientSubscription, const IID& iid,
                                                IUnknown** subscription, DWORD* revisedBufferTime,
                                                DWORD* revisedMaxSize) {
  return Call("IOPCEventServer::CreateEventSubscription", [&]() -> HRESULT {
    if (!subscription || !revisedBufferTime || !revisedMaxSize) return E_POINTER;
    *subscription = nullptr;
    HRESULT hr = CAESubscription::Create(this, active, bufferTime, maxSize, clientSubscription, iid, subscription,
                                         revisedBufferTime, revisedMaxSize);
    if (SUCCEEDED(hr)) {
      CAEEngine::Instance().TraceLine(3, "subscription " + std::to_string(clientSubscription) + " created");
    }
    return hr;
  });
}

HRESULT CAEEventServer::QueryAvailableFilters(DWORD* filterMask) {
  return Call("IOPCEventServer::QueryAvailableFilters", [&]() -> HRESULT {
    if (!filterMask) return E_POINTER;
    *filterMask = OPC_FILTER_BY_EVENT | OPC_FILTER_BY_CATEGORY | OPC_FILTER_BY_SEVERITY | OPC_FILTER_BY_AREA |
                  OPC_FILTER_BY_SOURCE;
    return S_OK;
  });
}

HRESULT CAEEventServer::QueryEventCategories(DWORD eventType, std::vector<DWORD>* categories,
                                             std::vector<std::string>* descriptions) {
  return Call("IOPCEventServer::QueryEventCategories", [&]() -> HRESULT {
    if (!categories || !descriptions) return E_POINTER;
    categories->clear();
    descriptions->clear();
    if (eventType == 0 || (eventType & ~OPC_ALL_EVENTS)) return E_INVALIDARG;
    for (const auto& c : g_CfgDb.CategoriesOfEventTypes(eventType)) {
      categories->push_back(c.id);
      descriptions->push_back(c.description);
    }
    return S_OK;
  });
}

HRESULT CAEEventServer::QueryConditionNames(DWORD eventCategory, std::vector<std::string>* names) {
  return Call("IOPCEventServer::QueryConditionNames", [&]() -> HRESULT {
    if (!names) return E_POINTER;
    names->clear();
    if (!g_CfgDb.HasCategory(eventCategory)) return E_INVALIDARG;
    for (const auto& c : g_CfgDb.ConditionsOfCategory(eventCategory)) names->push_back(c.name);
    return S_OK;
  });
}

HRESULT CAEEventServer::QuerySubConditionNames(const std::string& conditionName, std::vector<std::string>* names) {
  return Call("IOPCEventServer::QuerySubConditionNames", [&]() -> HRESULT {
    if (!names) return E_POINTER;
    names->clear();
    if (!g_CfgDb.HasCondition(conditionName)) return E_INVALIDARG;
    for (const auto& s : g_CfgDb.SubconditionsOfCondition(conditionName)) names->push_back(s.name);
    // A single-state condition is its own subcondition.
    if (names->empty()) names->push_back(conditionName);
    return S_OK;
  });
}

HRESULT CAEEventServer::QuerySourceConditions(const std::string& source, std::vector<std::string>* names) {
  return Call("IOPCEventServer::QuerySourceConditions", [&]() -> HRESULT {
    if (!names) return E_POINTER;
    names->clear();
    CAESourcePtr s = g_SourceCache.FindSource(source);
    if (!s) return E_INVALIDARG;
    std::lock_guard lock(*s);
    for (int i = 0; CAECondition* c = s->GetConditionAt(i); ++i) names->push_back(c->Name());
    return S_OK;
  });
}

HRESULT CAEEventServer::QueryEventAttributes(DWORD eventCategory, std::vector<DWORD>* attributeIds,
                                             std::vector<std::string>* descriptions, std::vector<VARTYPE>* types) {
  return Call("IOPCEventServer::QueryEventAttributes", [&]() -> HRESULT {
    if (!attributeIds || !descriptions || !types) return E_POINTER;
    attributeIds->clear();
    descriptions->clear();
    types->clear();
    if (!g_CfgDb.HasCategory(eventCategory)) return E_INVALIDARG;
    for (const auto& a : g_CfgDb.AttributesOfCategory(eventCategory)) {
      attributeIds->push_back(a.id);
      descriptions->push_back(a.description);
      types->push_back(a.type);
    }
    return S_OK;
  });
}

HRESULT CAEEventServer::TranslateToItemIDs(const std::string& source, DWORD eventCategory,
                                           const std::string& conditionName, const std::string& subconditionName,
                                           DWORD count, const DWORD* attributeIds, std::vector<std::string>* itemIds,
                                           std::vector<std::string>* nodeNames, std::vector<CLSID>* clsids) {
  return Call("IOPCEventServer::TranslateToItemIDs", [&]() -> HRESULT {
    if (!itemIds || !nodeNames || !clsids) return E_POINTER;
    itemIds->clear();
    nodeNames->clear();
    clsids->clear();
    if (count && !attributeIds) return E_INVALIDARG;
    char** items = nullptr;
    char** nodes = nullptr;
    CLSID* classes = nullptr;
    HRESULT hr = CAEEngine::Instance().Callback().TranslateToItemIDs(
        source, eventCategory, conditionName, subconditionName, count, attributeIds, &items, &nodes, &classes);
    bool ok = SUCCEEDED(hr) && items && nodes && classes;
    TakeStrings(items, count, ok ? itemIds : nullptr);
    TakeStrings(nodes, count, ok ? nodeNames : nullptr);
    if (ok) clsids->assign(classes, classes + count);
    CoTaskMemFree(classes);
    if (SUCCEEDED(hr) && !ok) return E_FAIL;  // the callback claimed success without results
    return hr;
  });
}

HRESULT CAEEventServer::GetConditionState(const std::string& source, const std::string& conditionName,
                                          DWORD numEventAttrs, const DWORD* attributeIds, OPCCONDITIONSTATE* state) {
  return Call("IOPCEventServer::GetConditionState", [&]() -> HRESULT {
    if (!state) return E_POINTER;
    if (numEventAttrs && !attributeIds) return E_INVALIDARG;
    CAESourcePtr s = g_SourceCache.FindSource(source);
    if (!s) return E_INVALIDARG;
    std::lock_guard lock(*s);
    CAECondition* c = s->GetCondition(conditionName);
    if (!c) return E_INVALIDARG;
    c->FillState(*state);
    // The values the latest notification carried; E_FAIL for an attribute
    // of another category.
    c->LatestAttributes(std::vector<DWORD>(attributeIds, attributeIds + numEventAttrs), state->pEventAttributes);
    for (DWORD i = 0; i < numEventAttrs; ++i) {
      CAECfgRecAttribute a;
      bool ok = g_CfgDb.Find(AE_CFG_ATTRIBUTES, VARIANT::UI4(attributeIds[i]), a) == 0 &&
                a.categoryId == c->CategoryId();
      state->pErrors.push_back(ok ? S_OK : E_FAIL);
    }
    return S_OK;
  });
}

HRESULT CAEEventServer::ChangeOne(const std::string& name, BOOL isArea, BOOL enable) {
  if (!IsKnown(name, isArea)) return E_INVALIDARG;
  CAEServerCallback& callback = CAEEngine::Instance().Callback();
  if (!callback.AllowChangeConditionEnabled(name, isArea, enable)) return E_ACCESSDENIED;
  if (!g_SourceCache.SetEnabled(name, isArea, enable)) return E_INVALIDARG;  // gone meanwhile
  callback.OnChangeConditionEnabled(name, isArea, enable);
  return S_OK;
}

HRESULT CAEEventServer::ChangeEnabled(DWORD count, const std::string* names, BOOL isArea, BOOL enable) {
  if (count && !names) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    if (!IsKnown(names[i], isArea)) return E_INVALIDARG;
  }
  HRESULT result = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    if (ChangeOne(names[i], isArea, enable) != S_OK) result = S_FALSE;
  }
  return result;
}

HRESULT CAEEventServer::ChangeEnabled(DWORD count, const std::string* names, BOOL isArea, BOOL enable,
                                      HRESULT** errors) {
  if (!errors) return E_POINTER;
  *errors = nullptr;
  if (count && !names) return E_INVALIDARG;
  HRESULT* codes = TaskArray<HRESULT>(count);
  if (count && !codes) return E_OUTOFMEMORY;
  HRESULT result = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    codes[i] = ChangeOne(names[i], isArea, enable);
    if (codes[i] != S_OK) result = S_FALSE;
  }
  *errors = codes;
  return result;
}

HRESULT CAEEventServer::GetEnableState(DWORD count, const std::string* names, BOOL isArea, BOOL** enabled,
                                       BOOL** effectivelyEnabled, HRESULT** errors) {
  if (!enabled || !effectivelyEnabled || !errors) return E_POINTER;
  *enabled = *effectivelyEnabled = nullptr;
  *errors = nullptr;
  if (count && !names) return E_INVALIDARG;
  BOOL* own = TaskArray<BOOL>(count);
  BOOL* effective = TaskArray<BOOL>(count);
  HRESULT* codes = TaskArray<HRESULT>(count);
  if (count && (!own || !effective || !codes)) {
    CoTaskMemFree(own);
    CoTaskMemFree(effective);
    CoTaskMemFree(codes);
    return E_OUTOFMEMORY;
  }
  HRESULT result = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    bool isEnabled = false, isEffective = false;
    if (g_SourceCache.GetEnabled(names[i], isArea, isEnabled, isEffective)) {
      own[i] = isEnabled ? true : false;
      effective[i] = isEffective ? true : false;
    } else {
      codes[i] = E_INVALIDARG;
      result = S_FALSE;
    }
  }
  *enabled = own;
  *effectivelyEnabled = effective;
  *errors = codes;
  return result;
}

HRESULT CAEEventServer::EnableConditionByArea(DWORD numAreas, const std::string* areas) {
  return Call("IOPCEventServer::EnableConditionByArea", [&] { return ChangeEnabled(numAreas, areas, true, true); });
}

HRESULT CAEEventServer::EnableConditionBySource(DWORD numSources, const std::string* sources) {
  return Call("IOPCEventServer::EnableConditionBySource",
              [&] { return ChangeEnabled(numSources, sources, false, true); });
}

HRESULT CAEEventServer::DisableConditionByArea(DWORD numAreas, const std::string* areas) {
  return Call("IOPCEventServer::DisableConditionByArea",
              [&] { return ChangeEnabled(numAreas, areas, true, false); });
}

HRESULT CAEEventServer::DisableConditionBySource(DWORD numSources, const std::string* sources) {
  return Call("IOPCEventServer::DisableConditionBySource",
              [&] { return ChangeEnabled(numSources, sources, false, false); });
}

HRESULT CAEEventServer::EnableConditionByArea2(DWORD numAreas, const std::string* areas, HRESULT** errors) {
  return Call("IOPCEventServer2::EnableConditionByArea2",
              [&] { return ChangeEnabled(numAreas, areas, true, true, errors); });
}

HRESULT CAEEventServer::EnableConditionBySource2(DWORD numSources, const std::string* sources, HRESULT** errors) {
  return Call("IOPCEventServer2::EnableConditionBySource2",
              [&] { return ChangeEnabled(numSources, sources, false, true, errors); });
}

HRESULT CAEEventServer::DisableConditionByArea2(DWORD numAreas, const std::string* areas, HRESULT** errors) {
  return Call("IOPCEventServer2::DisableConditionByArea2",
              [&] { return ChangeEnabled(numAreas, areas, true, false, errors); });
}

HRESULT CAEEventServer::DisableConditionBySource2(DWORD numSources, const std::string* sources, HRESULT** errors) {
  return Call("IOPCEventServer2::DisableConditionBySource2",
              [&] { return ChangeEnabled(numSources, sources, false, false, errors); });
}

HRESULT CAEEventServer::GetEnableStateByArea(DWORD numAreas, const std::string* areas, BOOL** enabled,
                                             BOOL** effectivelyEnabled, HRESULT** errors) {
  return Call("IOPCEventServer2::GetEnableStateByArea",
              [&] { return GetEnableState(numAreas, areas, true, enabled, effectivelyEnabled, errors); });
}

HRESULT CAEEventServer::GetEnableStateBySource(DWORD numSources, const std::string* sources, BOOL** enabled,
                                               BOOL** effectivelyEnabled, HRESULT** errors) {
  return Call("IOPCEventServer2::GetEnableStateBySource",
              [&] { return GetEnableState(numSources, sources, false, enabled, effectivelyEnabled, errors); });
}

HRESULT CAEEventServer::AckCondition(DWORD count, const std::string& acknowledgerId, const std::string& comment,
                                     const std::string* sources, const std::string* conditionNames,
                                     const FILETIME* activeTimes, const DWORD* cookies,
                                     std::vector<HRESULT>* errors) {
  return Call("IOPCEventServer::AckCondition", [&]() -> HRESULT {
    if (!errors) return E_POINTER;
    errors->clear();
    if (acknowledgerId.empty()) return E_INVALIDARG;
    if (count && (!sources || !conditionNames || !activeTimes || !cookies)) return E_INVALIDARG;
    CAEServerCallback& callback = CAEEngine::Instance().Callback();
    errors->assign(count, S_OK);
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
      HRESULT& hr = (*errors)[i];
      // The reference keeps source and condition alive through the callback.
      CAESourcePtr s = g_SourceCache.FindSource(sources[i]);
      CAECondition* c = s ? s->GetCondition(conditionNames[i]) : nullptr;
      hr = c ? c->AcknowledgeByClient(acknowledgerId, comment, activeTimes[i], cookies[i]) : E_INVALIDARG;
      if (hr != S_OK) {
        result = S_FALSE;
        continue;
      }
      // Every toolkit lock is released here.
      callback.OnConditionAcknowledged(c);
    }
    return result;
  });
}

HRESULT CAEEventServer::CreateAreaBrowser(const IID& iid, IUnknown** browser) {
  return Call("IOPCEventServer::CreateAreaBrowser", [&]() -> HRESULT {
    if (!browser) return E_POINTER;
    *browser = nullptr;
    return CAEEngine::Instance().Callback().CreateAreaBrowser(iid, browser);
  });
}

HRESULT CAEEventServer::SetLocaleID(LCID locale) {
  return Call("IOPCCommon::SetLocaleID", [&]() -> HRESULT {
    std::vector<LCID> available;
    QueryAvailableLocaleIDs(&available);
    if (std::find(available.begin(), available.end(), locale) == available.end()) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    locale_ = locale;
    return S_OK;
  });
}

HRESULT CAEEventServer::GetLocaleID(LCID* locale) {
  return Call("IOPCCommon::GetLocaleID", [&]() -> HRESULT {
    if (!locale) return E_POINTER;
    std::lock_guard lock(mutex_);
    *locale = locale_;
    return S_OK;
  });
}

HRESULT CAEEventServer::QueryAvailableLocaleIDs(std::vector<LCID>* locales) {
  if (!locales) return E_POINTER;
  *locales = {LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT, LOCALE_NEUTRAL, kEnglishUS};
  return S_OK;
}

HRESULT CAEEventServer::GetErrorString(HRESULT code, std::string* text) {
  return Call("IOPCCommon::GetErrorString", [&]() -> HRESULT {
    if (!text) return E_POINTER;
    LCID locale;
    {
      std::lock_guard lock(mutex_);
      locale = locale_;
    }
    return CAEEngine::Instance().Callback().GetErrorString(code, locale, *text);
  });
}

HRESULT CAEEventServer::SetClientName(const std::string& name) {
  return Call("IOPCCommon::SetClientName", [&]() -> HRESULT {
    {
      std::lock_guard lock(mutex_);
      clientName_ = name;
    }
    CAEEngine::Instance().TraceLine(1, "client name: " + name);
    return S_OK;
  });
}

HRESULT CAEEventServer::EnumConnectionPoints(IEnumConnectionPoints** enumerator) {
  if (!enumerator) return E_POINTER;
  shutdownPoint_.AddRef();  // handed over to the enumerator
  return CAEEnumConnectionPoints::Create({&shutdownPoint_}, enumerator);
}

HRESULT CAEEventServer::FindConnectionPoint(const IID& iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (iid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
  shutdownPoint_.AddRef();
  *point = &shutdownPoint_;
  return S_OK;
}
