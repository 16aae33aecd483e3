#include "toolkit/dbus/dbus_adaptors.h"

#include <algorithm>

#include "platform/class_factory.h"
#include "toolkit/dbus/dbus_names.h"
#include "toolkit/dbus/dbus_wire.h"

namespace aedbus {

namespace {

// Thrown by a handler for an argument the server refuses.
struct CHResultError {
  HRESULT hr;
};

template <class T>
T Arg(sdbus::Message& call) {
  T value{};
  call >> value;
  return value;
}

template <class T>
std::vector<T> ArrayArg(sdbus::Message& call) {
  std::vector<T> values;
  call >> values;
  if (values.size() > aedbus::kMaxArrayElements) throw CHResultError{E_INVALIDARG};
  return values;
}

DWORD Count(size_t n) { return static_cast<DWORD>(n); }

// The HRESULT, then the outputs, when the call succeeded.
template <class... Out>
HRESULT Reply(sdbus::Message& reply, HRESULT hr, const Out&... out) {
  if (SUCCEEDED(hr)) {
    reply << hr;
    if constexpr (sizeof...(out) > 0) (reply << ... << out);
  }
  return hr;
}

// A per-name array the callee allocated: copied out, then freed.
template <class T, class Out = T>
std::vector<Out> TakeArray(T* items, size_t n) {
  std::vector<Out> values;
  if (items) values.assign(items, items + n);
  CoTaskMemFree(items);
  return values;
}

// An argument refused (CHResultError) as the call's HRESULT.
Handler Guarded(Handler handler) {
  return [handler = std::move(handler)](CExported& x, sdbus::Message& args, sdbus::Message& reply) -> HRESULT {
    try {
      return handler(x, args, reply);
    } catch (const CHResultError& e) {
      return e.hr;
    }
  };
}

void AddUnknownMethods(std::vector<CMethod>& methods, CAdaptorHost& host) {
  methods.push_back({kUnknownInterface, "Release", "", "i", [&host](CExported& x, auto&, auto& reply) {
                       host.Retire(x);
                       return Reply(reply, S_OK);
                     }});
}

void AddEventServer2Methods(std::vector<CMethod>& methods);

void AddEventServerMethods(std::vector<CMethod>& methods, CAdaptorHost& host) {
  const char* es = kEventServerInterface;
  methods.push_back({es, "GetStatus", "", "itttuqqqs", [](CExported& x, auto&, auto& reply) {
    OPCEVENTSERVERSTATUS s;
    HRESULT hr = x.server->GetStatus(&s);
    return Reply(reply, hr, FileTimeToUint64(s.ftStartTime), FileTimeToUint64(s.ftCurrentTime),
                 FileTimeToUint64(s.ftLastUpdateTime), s.dwServerState, s.wMajorVersion, s.wMinorVersion,
                 s.wBuildNumber, s.szVendorInfo);
  }});
  methods.push_back({es, "CreateEventSubscription", "buuu", "iouu", [&host](CExported& x, auto& call, auto& reply) {
    bool active = Arg<bool>(call);
    DWORD bufferTime = Arg<uint32_t>(call), maxSize = Arg<uint32_t>(call), handle = Arg<uint32_t>(call);
    auto sub = std::make_unique<CExported>();
    sub->kind = CExported::Kind::kSubscription;
    sub->owner = x.owner;
    DWORD revisedBuffer = 0, revisedMax = 0;
    ComPtr<IUnknown> unknown;
    HRESULT hr = x.server->CreateEventSubscription(active, bufferTime, maxSize, handle, IID_IOPCEventSubscriptionMgt,
                                                   unknown.Put(), &revisedBuffer, &revisedMax);
    if (FAILED(hr)) return hr;
    unknown.As(IID_IOPCEventSubscriptionMgt, sub->subscription);
    unknown.As(IID_IOPCEventSubscriptionMgt2, sub->subscription2);
    ComPtr<IConnectionPointContainer> container;
    if (SUCCEEDED(unknown.As(IID_IConnectionPointContainer, container))) {
      container->FindConnectionPoint(IID_IOPCEventSink, sub->point.Put());
    }
    sub->path = host.NewPath(kSubscriptionPathPrefix);
    std::string path = host.Export(std::move(sub));
    return Reply(reply, hr, sdbus::ObjectPath(path), revisedBuffer, revisedMax);
  }});
  methods.push_back({es, "QueryAvailableFilters", "", "iu", [](CExported& x, auto&, auto& reply) {
    DWORD mask = 0;
    HRESULT hr = x.server->QueryAvailableFilters(&mask);
    return Reply(reply, hr, mask);
  }});
  methods.push_back({es, "QueryEventCategories", "u", "iauas", [](CExported& x, auto& call, auto& reply) {
    std::vector<DWORD> ids;
    std::vector<std::string> texts;
    HRESULT hr = x.server->QueryEventCategories(Arg<uint32_t>(call), &ids, &texts);
    return Reply(reply, hr, ids, texts);
  }});
  methods.push_back({es, "QueryConditionNames", "u", "ias", [](CExported& x, auto& call, auto& reply) {
    std::vector<std::string> names;
    HRESULT hr = x.server->QueryConditionNames(Arg<uint32_t>(call), &names);
    return Reply(reply, hr, names);
  }});
  methods.push_back({es, "QuerySubConditionNames", "s", "ias", [](CExported& x, auto& call, auto& reply) {
    std::vector<std::string> names;
    HRESULT hr = x.server->QuerySubConditionNames(Arg<std::string>(call), &names);
    return Reply(reply, hr, names);
  }});
  methods.push_back({es, "QuerySourceConditions", "s", "ias", [](CExported& x, auto& call, auto& reply) {
    std::vector<std::string> names;
    HRESULT hr = x.server->QuerySourceConditions(Arg<std::string>(call), &names);
    return Reply(reply, hr, names);
  }});
  methods.push_back({es, "QueryEventAttributes", "u", "iauasaq", [](CExported& x, auto& call, auto& reply) {
    std::vector<DWORD> ids;
    std::vector<std::string> texts;
    std::vector<VARTYPE> types;
    HRESULT hr = x.server->QueryEventAttributes(Arg<uint32_t>(call), &ids, &texts, &types);
    std::vector<uint16_t> vts(types.begin(), types.end());
    return Reply(reply, hr, ids, texts, vts);
  }});
  methods.push_back({es, "TranslateToItemIDs", "sussau", "iasasas", [](CExported& x, auto& call, auto& reply) {
    auto source = Arg<std::string>(call);
    auto category = Arg<uint32_t>(call);
    auto condition = Arg<std::string>(call), subcondition = Arg<std::string>(call);
    auto ids = ArrayArg<uint32_t>(call);
    std::vector<std::string> items, nodes;
    std::vector<CLSID> clsids;
    HRESULT hr = x.server->TranslateToItemIDs(source, category, condition, subcondition, Count(ids.size()), ids.data(),
                                              &items, &nodes, &clsids);
    std::vector<std::string> clsidTexts;
    for (const CLSID& c : clsids) clsidTexts.push_back(GuidToString(c));
    return Reply(reply, hr, items, nodes, clsidTexts);
  }});
  methods.push_back({es, "GetConditionState", "ssau", "iqssusqttttssasasauasa(qv)ai",
                     [](CExported& x, auto& call, auto& reply) {
    auto source = Arg<std::string>(call), condition = Arg<std::string>(call);
    auto ids = ArrayArg<uint32_t>(call);
    OPCCONDITIONSTATE s;
    HRESULT hr = x.server->GetConditionState(source, condition, Count(ids.size()), ids.data(), &s);
    if (FAILED(hr)) return hr;
    reply << hr << s.wState << s.szActiveSubCondition << s.szASCDefinition << s.dwASCSeverity
          << s.szASCDescription << s.wQuality << FileTimeToUint64(s.ftLastAckTime)
          << FileTimeToUint64(s.ftSubCondLastActive) << FileTimeToUint64(s.ftCondLastActive)
          << FileTimeToUint64(s.ftCondLastInactive) << s.szAcknowledgerID << s.szComment << s.pszSCNames
          << s.pszSCDefinitions << s.pdwSCSeverities << s.pszSCDescriptions;
    Write(reply, s.pEventAttributes);
    reply << s.pErrors;
    return hr;
  }});
  struct Enabler {
    const char* name;
    HRESULT (IOPCEventServer::*method)(DWORD, const std::string*);
  };
  for (const Enabler& e : {Enabler{"EnableConditionByArea", &IOPCEventServer::EnableConditionByArea},
                           Enabler{"EnableConditionBySource", &IOPCEventServer::EnableConditionBySource},
                           Enabler{"DisableConditionByArea", &IOPCEventServer::DisableConditionByArea},
                           Enabler{"DisableConditionBySource", &IOPCEventServer::DisableConditionBySource}}) {
    methods.push_back({es, e.name, "as", "i", [method = e.method](CExported& x, auto& call, auto& reply) {
      auto names = ArrayArg<std::string>(call);
      return Reply(reply, (x.server.Get()->*method)(Count(names.size()), names.data()));
    }});
  }
  methods.push_back({es, "AckCondition", "ssasasatau", "iai", [](CExported& x, auto& call, auto& reply) {
    auto acknowledger = Arg<std::string>(call), comment = Arg<std::string>(call);
    auto sources = ArrayArg<std::string>(call), conditions = ArrayArg<std::string>(call);
    auto times = ArrayArg<uint64_t>(call);
    auto cookies = ArrayArg<uint32_t>(call);
    size_t n = sources.size();
    if (conditions.size() != n || times.size() != n || cookies.size() != n) return E_INVALIDARG;
    std::vector<FILETIME> activeTimes;
    for (uint64_t t : times) activeTimes.push_back(Uint64ToFileTime(t));
    std::vector<HRESULT> errors;
    HRESULT hr = x.server->AckCondition(Count(n), acknowledger, comment, sources.data(), conditions.data(),
                                        activeTimes.data(), cookies.data(), &errors);
    return Reply(reply, hr, errors);
  }});
  methods.push_back({es, "CreateAreaBrowser", "", "io", [&host](CExported& x, auto&, auto& reply) {
    auto browser = std::make_unique<CExported>();
    browser->kind = CExported::Kind::kAreaBrowser;
    browser->owner = x.owner;
    ComPtr<IUnknown> unknown;
    HRESULT hr = x.server->CreateAreaBrowser(IID_IOPCEventAreaBrowser, unknown.Put());
    if (FAILED(hr)) return hr;
    unknown.As(IID_IOPCEventAreaBrowser, browser->browser);
    browser->path = host.NewPath(kAreaBrowserPathPrefix);
    std::string path = host.Export(std::move(browser));
    return Reply(reply, hr, sdbus::ObjectPath(path));
  }});

  AddEventServer2Methods(methods);

  const char* common = kCommonInterface;
  methods.push_back({common, "SetLocaleID", "u", "i", [](CExported& x, auto& call, auto& reply) {
    return Reply(reply, x.common->SetLocaleID(Arg<uint32_t>(call)));
  }});
  methods.push_back({common, "GetLocaleID", "", "iu", [](CExported& x, auto&, auto& reply) {
    LCID locale = 0;
    HRESULT hr = x.common->GetLocaleID(&locale);
    return Reply(reply, hr, static_cast<uint32_t>(locale));
  }});
  methods.push_back({common, "QueryAvailableLocaleIDs", "", "iau", [](CExported& x, auto&, auto& reply) {
    std::vector<LCID> locales;
    HRESULT hr = x.common->QueryAvailableLocaleIDs(&locales);
    std::vector<uint32_t> out(locales.begin(), locales.end());
    return Reply(reply, hr, out);
  }});
  methods.push_back({common, "GetErrorString", "i", "is", [](CExported& x, auto& call, auto& reply) {
    std::string text;
    HRESULT hr = x.common->GetErrorString(Arg<int32_t>(call), &text);
    return Reply(reply, hr, text);
  }});
  methods.push_back({common, "SetClientName", "s", "i", [](CExported& x, auto& call, auto& reply) {
    return Reply(reply, x.common->SetClientName(Arg<std::string>(call)));
  }});
}

void AddEventServer2Methods(std::vector<CMethod>& methods) {
  const char* es2 = kEventServer2Interface;
  struct Enabler {
    const char* name;
    HRESULT (IOPCEventServer2::*method)(DWORD, const std::string*, HRESULT**);
  };
  for (const Enabler& e : {Enabler{"EnableConditionByArea2", &IOPCEventServer2::EnableConditionByArea2},
                           Enabler{"EnableConditionBySource2", &IOPCEventServer2::EnableConditionBySource2},
                           Enabler{"DisableConditionByArea2", &IOPCEventServer2::DisableConditionByArea2},
                           Enabler{"DisableConditionBySource2", &IOPCEventServer2::DisableConditionBySource2}}) {
    methods.push_back({es2, e.name, "as", "iai", [method = e.method](CExported& x, auto& call, auto& reply) {
      auto names = ArrayArg<std::string>(call);
      if (!x.server2) return E_NOINTERFACE;
      HRESULT* errors = nullptr;
      HRESULT hr = (x.server2.Get()->*method)(Count(names.size()), names.data(), &errors);
      return Reply(reply, hr, TakeArray(errors, names.size()));
    }});
  }
  struct StateQuery {
    const char* name;
    HRESULT (IOPCEventServer2::*method)(DWORD, const std::string*, BOOL**, BOOL**, HRESULT**);
  };
  for (const StateQuery& q : {StateQuery{"GetEnableStateByArea", &IOPCEventServer2::GetEnableStateByArea},
                              StateQuery{"GetEnableStateBySource", &IOPCEventServer2::GetEnableStateBySource}}) {
    methods.push_back({es2, q.name, "as", "iababai", [method = q.method](CExported& x, auto& call, auto& reply) {
      auto names = ArrayArg<std::string>(call);
      if (!x.server2) return E_NOINTERFACE;
      BOOL* enabled = nullptr;
      BOOL* effective = nullptr;
      HRESULT* errors = nullptr;
      HRESULT hr = (x.server2.Get()->*method)(Count(names.size()), names.data(), &enabled, &effective, &errors);
      size_t n = names.size();
      return Reply(reply, hr, TakeArray<BOOL, bool>(enabled, n), TakeArray<BOOL, bool>(effective, n),
                   TakeArray(errors, n));
    }});
  }
}

void AddSubscriptionMethods(std::vector<CMethod>& methods, CAdaptorHost& host) {
  const char* sm = kSubscriptionInterface;
  methods.push_back({sm, "SetFilter", "uauuuasas", "i", [](CExported& x, auto& call, auto& reply) {
    auto eventType = Arg<uint32_t>(call);
    auto categories = ArrayArg<uint32_t>(call);
    auto low = Arg<uint32_t>(call), high = Arg<uint32_t>(call);
    auto areas = ArrayArg<std::string>(call), sources = ArrayArg<std::string>(call);
    return Reply(reply, x.subscription->SetFilter(eventType, Count(categories.size()), categories.data(), low, high,
                                                  Count(areas.size()), areas.data(), Count(sources.size()),
                                                  sources.data()));
  }});
  methods.push_back({sm, "GetFilter", "", "iuauuuasas", [](CExported& x, auto&, auto& reply) {
    DWORD eventType = 0, low = 0, high = 0;
    std::vector<DWORD> categories;
    std::vector<std::string> areas, sources;
    HRESULT hr = x.subscription->GetFilter(&eventType, &categories, &low, &high, &areas, &sources);
    return Reply(reply, hr, eventType, categories, low, high, areas, sources);
  }});
  methods.push_back({sm, "SelectReturnedAttributes", "uau", "i", [](CExported& x, auto& call, auto& reply) {
    auto category = Arg<uint32_t>(call);
    auto ids = ArrayArg<uint32_t>(call);
    return Reply(reply, x.subscription->SelectReturnedAttributes(category, Count(ids.size()), ids.data()));
  }});
  methods.push_back({sm, "GetReturnedAttributes", "u", "iau", [](CExported& x, auto& call, auto& reply) {
    std::vector<DWORD> ids;
    HRESULT hr = x.subscription->GetReturnedAttributes(Arg<uint32_t>(call), &ids);
    return Reply(reply, hr, ids);
  }});
  methods.push_back({sm, "Refresh", "u", "i", [](CExported& x, auto& call, auto& reply) {
    return Reply(reply, x.subscription->Refresh(Arg<uint32_t>(call)));
  }});
  methods.push_back({sm, "CancelRefresh", "u", "i", [](CExported& x, auto& call, auto& reply) {
    return Reply(reply, x.subscription->CancelRefresh(Arg<uint32_t>(call)));
  }});
  methods.push_back({sm, "GetState", "", "ibuuu", [](CExported& x, auto&, auto& reply) {
    BOOL active = false;
    DWORD bufferTime = 0, maxSize = 0;
    OPCHANDLE handle = 0;
    HRESULT hr = x.subscription->GetState(&active, &bufferTime, &maxSize, &handle);
    return Reply(reply, hr, active != 0, bufferTime, maxSize, handle);
  }});
  // An empty array stands for the standard's null pointer: keep the value.
  methods.push_back({sm, "SetState", "abauauu", "iuu", [](CExported& x, auto& call, auto& reply) {
    auto active = ArrayArg<bool>(call);
    auto bufferTime = ArrayArg<uint32_t>(call), maxSize = ArrayArg<uint32_t>(call);
    auto handle = Arg<uint32_t>(call);
    if (active.size() > 1 || bufferTime.size() > 1 || maxSize.size() > 1) return E_INVALIDARG;
    BOOL activeValue = !active.empty() && active[0];
    DWORD revisedBuffer = 0, revisedMax = 0;
    HRESULT hr = x.subscription->SetState(active.empty() ? nullptr : &activeValue,
                                          bufferTime.empty() ? nullptr : bufferTime.data(),
                                          maxSize.empty() ? nullptr : maxSize.data(), handle, &revisedBuffer,
                                          &revisedMax);
    return Reply(reply, hr, revisedBuffer, revisedMax);
  }});
  const char* sm2 = kSubscription2Interface;
  methods.push_back({sm2, "SetKeepAlive", "u", "iu", [](CExported& x, auto& call, auto& reply) {
    auto keepAlive = Arg<uint32_t>(call);
    if (!x.subscription2) return E_NOINTERFACE;
    DWORD revised = 0;
    HRESULT hr = x.subscription2->SetKeepAlive(keepAlive, &revised);
    return Reply(reply, hr, revised);
  }});
  methods.push_back({sm2, "GetKeepAlive", "", "iu", [](CExported& x, auto&, auto& reply) {
    if (!x.subscription2) return E_NOINTERFACE;
    DWORD keepAlive = 0;
    HRESULT hr = x.subscription2->GetKeepAlive(&keepAlive);
    return Reply(reply, hr, keepAlive);
  }});
  const char* cp = kConnectionPointInterface;
  methods.push_back({cp, "Advise", "", "iu", [&host](CExported& x, auto&, auto& reply) {
    DWORD cookie = 0;
    HRESULT hr = host.AdviseSink(x, &cookie);
    if (SUCCEEDED(hr)) x.cookies.push_back(cookie);
    return Reply(reply, hr, cookie);
  }});
  methods.push_back({cp, "Unadvise", "u", "i", [](CExported& x, auto& call, auto& reply) {
    DWORD cookie = Arg<uint32_t>(call);
    auto it = std::find(x.cookies.begin(), x.cookies.end(), cookie);
    if (it == x.cookies.end()) return CONNECT_E_NOCONNECTION;
    x.cookies.erase(it);
    return Reply(reply, x.point->Unadvise(cookie));
  }});
}

void AddAreaBrowserMethods(std::vector<CMethod>& methods) {
  const char* ab = kAreaBrowserInterface;
  methods.push_back({ab, "ChangeBrowsePosition", "us", "i", [](CExported& x, auto& call, auto& reply) {
    auto direction = Arg<uint32_t>(call);
    return Reply(reply, x.browser->ChangeBrowsePosition(direction, Arg<std::string>(call)));
  }});
  methods.push_back({ab, "BrowseOPCAreas", "us", "ias", [](CExported& x, auto& call, auto& reply) {
    auto type = Arg<uint32_t>(call);
    std::vector<std::string> names;
    HRESULT hr = x.browser->BrowseOPCAreas(type, Arg<std::string>(call), &names);
    return Reply(reply, hr, names);
  }});
  methods.push_back({ab, "GetQualifiedAreaName", "s", "is", [](CExported& x, auto& call, auto& reply) {
    std::string qualified;
    HRESULT hr = x.browser->GetQualifiedAreaName(Arg<std::string>(call), &qualified);
    return Reply(reply, hr, qualified);
  }});
  methods.push_back({ab, "GetQualifiedSourceName", "s", "is", [](CExported& x, auto& call, auto& reply) {
    std::string qualified;
    HRESULT hr = x.browser->GetQualifiedSourceName(Arg<std::string>(call), &qualified);
    return Reply(reply, hr, qualified);
  }});
}

}  // namespace

std::vector<CMethod> MethodsOf(CExported::Kind kind, CAdaptorHost& host) {
  std::vector<CMethod> methods;
  AddUnknownMethods(methods, host);
  switch (kind) {
    case CExported::Kind::kEventServer: AddEventServerMethods(methods, host); break;
    case CExported::Kind::kSubscription: AddSubscriptionMethods(methods, host); break;
    case CExported::Kind::kAreaBrowser: AddAreaBrowserMethods(methods); break;
  }
  for (CMethod& method : methods) method.handler = Guarded(std::move(method.handler));
  return methods;
}

HRESULT CreateEventServerObject(const CLSID& clsid, const std::string& owner, CAdaptorHost& host,
                                std::string* path) {
  auto object = std::make_unique<CExported>();
  object->kind = CExported::Kind::kEventServer;
  object->owner = owner;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                object->server.PutVoid());
  if (FAILED(hr)) return hr;
  object->server.As(IID_IOPCCommon, object->common);
  object->server.As(IID_IOPCEventServer2, object->server2);
  ComPtr<IConnectionPointContainer> container;
  if (SUCCEEDED(object->server.As(IID_IConnectionPointContainer, container))) {
    container->FindConnectionPoint(IID_IOPCShutdown, object->point.Put());
  }
  object->path = host.NewPath(kEventServerPathPrefix);
  if (object->point) {
    DWORD cookie = 0;
    if (SUCCEEDED(host.AdviseSink(*object, &cookie))) object->cookies.push_back(cookie);
  }
  *path = host.Export(std::move(object));
  return S_OK;
}

}  // namespace aedbus
