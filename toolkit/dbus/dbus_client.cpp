#include "toolkit/dbus/dbus_client.h"

#include <poll.h>

#include <chrono>
#include <ctime>

#include <sdbus-c++/sdbus-c++.h>

#include "toolkit/dbus/dbus_names.h"
#include "toolkit/dbus/dbus_wire.h"

namespace {

// A call that may take the server's start-up (activation) into account.
constexpr uint64_t kCallTimeoutUs = 30'000'000;

uint64_t NowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1'000'000 + uint64_t(now.tv_nsec) / 1000;
}

}  // namespace

class CAEDBusClient::Impl {
 public:
  std::string busName;
  std::unique_ptr<sdbus::IConnection> connection;
  std::unique_ptr<sdbus::IProxy> serverClass;
  std::unique_ptr<sdbus::IProxy> server;
  std::unique_ptr<sdbus::IProxy> browser;
  std::unique_ptr<sdbus::IProxy> subscription;
  std::string error;
  EventHandler onEvent;
  ShutdownHandler onShutdown;
  DWORD cookie = 0;

  std::unique_ptr<sdbus::IProxy> Proxy(const std::string& path) {
    return sdbus::createProxy(*connection, busName, path);
  }

  // Runs the call; the reply is positioned after the HRESULT.
  HRESULT Call(sdbus::IProxy& proxy, sdbus::MethodCall& call, sdbus::MethodReply* reply) {
    try {
      *reply = proxy.callMethod(call, kCallTimeoutUs);
      HRESULT hr = S_OK;
      *reply >> hr;
      return hr;
    } catch (const sdbus::Error& e) {
      error = e.getName() + ": " + e.getMessage();
      return aedbus::HResultFromErrorName(e.getName());
    }
  }

  HRESULT EnsureServer() {
    if (server) return S_OK;
    auto call = serverClass->createMethodCall(aedbus::kServerClassInterface, "CreateInstance");
    sdbus::MethodReply reply;
    HRESULT hr = Call(*serverClass, call, &reply);
    if (FAILED(hr)) return hr;
    sdbus::ObjectPath path;
    reply >> path;
    server = Proxy(path);
    server->registerSignalHandler(aedbus::kShutdownInterface, aedbus::kShutdownSignal, [this](sdbus::Signal signal) {
      std::string reason;
      signal >> reason;
      if (onShutdown) onShutdown(reason);
    });
    server->finishRegistration();
    return S_OK;
  }

  template <class... In>
  HRESULT CallServer(const char* interface, const char* method, sdbus::MethodReply* reply, const In&... in) {
    HRESULT hr = EnsureServer();
    if (FAILED(hr)) return hr;
    auto call = server->createMethodCall(interface, method);
    if constexpr (sizeof...(in) > 0) (call << ... << in);
    return Call(*server, call, reply);
  }

  void Release(std::unique_ptr<sdbus::IProxy>& proxy) {
    if (!proxy) return;
    try {
      auto call = proxy->createMethodCall(aedbus::kUnknownInterface, "Release");
      proxy->callMethod(call, kCallTimeoutUs);
    } catch (const sdbus::Error&) {
      // The server has gone already: nothing left to release.
    }
    proxy.reset();
  }
};

std::unique_ptr<CAEDBusClient> CAEDBusClient::Connect(const std::string& progId, AeDBusBus bus, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->busName = aedbus::BusNameFromProgId(progId);
  try {
    impl->connection = bus == AeDBusBus::kSystem ? sdbus::createSystemBusConnection() : sdbus::createSessionBusConnection();
    impl->serverClass = impl->Proxy(aedbus::kServerPath);
  } catch (const sdbus::Error& e) {
    if (error) *error = e.getMessage();
    return nullptr;
  }
  return std::unique_ptr<CAEDBusClient>(new CAEDBusClient(std::move(impl)));
}

CAEDBusClient::CAEDBusClient(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CAEDBusClient::~CAEDBusClient() {
  impl_->Release(impl_->subscription);
  impl_->Release(impl_->browser);
  impl_->Release(impl_->server);
}

const std::string& CAEDBusClient::LastError() const { return impl_->error; }

HRESULT CAEDBusClient::GetStatus(OPCEVENTSERVERSTATUS* status) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "GetStatus", &reply);
  if (FAILED(hr)) return hr;
  uint64_t start, current, last;
  reply >> start >> current >> last >> status->dwServerState >> status->wMajorVersion >> status->wMinorVersion >>
      status->wBuildNumber >> status->szVendorInfo;
  status->ftStartTime = Uint64ToFileTime(start);
  status->ftCurrentTime = Uint64ToFileTime(current);
  status->ftLastUpdateTime = Uint64ToFileTime(last);
  return hr;
}

HRESULT CAEDBusClient::QueryEventCategories(DWORD eventType, std::vector<DWORD>* ids, std::vector<std::string>* texts) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "QueryEventCategories", &reply, eventType);
  if (SUCCEEDED(hr)) reply >> *ids >> *texts;
  return hr;
}

HRESULT CAEDBusClient::Browse(const std::string& area, OPCAEBROWSETYPE type, const std::string& filter,
                              std::vector<std::string>* names) {
  if (!impl_->browser) {
    sdbus::MethodReply reply;
    HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "CreateAreaBrowser", &reply);
    if (FAILED(hr)) return hr;
    sdbus::ObjectPath path;
    reply >> path;
    impl_->browser = impl_->Proxy(path);
  }
  sdbus::MethodReply reply;
  auto to = impl_->browser->createMethodCall(aedbus::kAreaBrowserInterface, "ChangeBrowsePosition");
  to << uint32_t{OPCAE_BROWSE_TO} << area;
  HRESULT hr = impl_->Call(*impl_->browser, to, &reply);
  if (FAILED(hr)) return hr;
  auto browse = impl_->browser->createMethodCall(aedbus::kAreaBrowserInterface, "BrowseOPCAreas");
  browse << uint32_t{type} << filter;
  hr = impl_->Call(*impl_->browser, browse, &reply);
  if (SUCCEEDED(hr)) reply >> *names;
  return hr;
}

HRESULT CAEDBusClient::GetQualifiedSourceName(const std::string& area, const std::string& source,
                                              std::string* qualified) {
  std::vector<std::string> ignored;
  HRESULT hr = Browse(area, OPC_SOURCE, "", &ignored);
  if (FAILED(hr)) return hr;
  sdbus::MethodReply reply;
  auto call = impl_->browser->createMethodCall(aedbus::kAreaBrowserInterface, "GetQualifiedSourceName");
  call << source;
  hr = impl_->Call(*impl_->browser, call, &reply);
  if (SUCCEEDED(hr)) reply >> *qualified;
  return hr;
}

HRESULT CAEDBusClient::QuerySourceConditions(const std::string& source, std::vector<std::string>* names) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "QuerySourceConditions", &reply, source);
  if (SUCCEEDED(hr)) reply >> *names;
  return hr;
}

HRESULT CAEDBusClient::GetConditionState(const std::string& source, const std::string& condition,
                                         OPCCONDITIONSTATE* s) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "GetConditionState", &reply, source, condition,
                                 std::vector<uint32_t>{});
  if (FAILED(hr)) return hr;
  uint64_t lastAck, subActive, active, inactive;
  reply >> s->wState >> s->szActiveSubCondition >> s->szASCDefinition >> s->dwASCSeverity >> s->szASCDescription >>
      s->wQuality >> lastAck >> subActive >> active >> inactive >> s->szAcknowledgerID >> s->szComment >>
      s->pszSCNames >> s->pszSCDefinitions >> s->pdwSCSeverities >> s->pszSCDescriptions;
  aedbus::Read(reply, s->pEventAttributes);
  reply >> s->pErrors;
  s->ftLastAckTime = Uint64ToFileTime(lastAck);
  s->ftSubCondLastActive = Uint64ToFileTime(subActive);
  s->ftCondLastActive = Uint64ToFileTime(active);
  s->ftCondLastInactive = Uint64ToFileTime(inactive);
  return hr;
}

HRESULT CAEDBusClient::AckCondition(const std::string& acknowledger, const std::string& comment,
                                    const std::string& source, const std::string& condition, FILETIME activeTime,
                                    DWORD cookie, HRESULT* error) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "AckCondition", &reply, acknowledger, comment,
                                 std::vector<std::string>{source}, std::vector<std::string>{condition},
                                 std::vector<uint64_t>{FileTimeToUint64(activeTime)}, std::vector<uint32_t>{cookie});
  if (FAILED(hr)) return hr;
  std::vector<HRESULT> errors;
  reply >> errors;
  *error = errors.empty() ? E_FAIL : errors[0];
  return hr;
}

HRESULT CAEDBusClient::ChangeEnabled(bool enable, bool byArea, const std::vector<std::string>& names) {
  const char* method = enable ? (byArea ? "EnableConditionByArea" : "EnableConditionBySource")
                              : (byArea ? "DisableConditionByArea" : "DisableConditionBySource");
  sdbus::MethodReply reply;
  return impl_->CallServer(aedbus::kEventServerInterface, method, &reply, names);
}

HRESULT CAEDBusClient::GetEnableState(bool byArea, const std::vector<std::string>& names, std::vector<bool>* enabled,
                                      std::vector<bool>* effective, std::vector<HRESULT>* errors) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServer2Interface,
                                 byArea ? "GetEnableStateByArea" : "GetEnableStateBySource", &reply, names);
  if (SUCCEEDED(hr)) reply >> *enabled >> *effective >> *errors;
  return hr;
}

HRESULT CAEDBusClient::GetTransportStatistics(CAEDBusTransport::Stats* stats, uint64_t* droppedForMe) {
  auto call = impl_->serverClass->createMethodCall(aedbus::kServerClassInterface, "GetTransportStatistics");
  sdbus::MethodReply reply;
  HRESULT hr = impl_->Call(*impl_->serverClass, call, &reply);
  if (SUCCEEDED(hr)) reply >> stats->clients >> stats->signalsSent >> stats->eventsSent >> stats->eventsDropped >> *droppedForMe;
  return hr;
}

HRESULT CAEDBusClient::Subscribe(DWORD bufferTime, DWORD maxSize, const Filter& f, EventHandler handler) {
  sdbus::MethodReply reply;
  HRESULT hr = impl_->CallServer(aedbus::kEventServerInterface, "CreateEventSubscription", &reply, true, bufferTime,
                                 maxSize, uint32_t{1});
  if (FAILED(hr)) return hr;
  sdbus::ObjectPath path;
  reply >> path;
  impl_->Release(impl_->subscription);
  impl_->subscription = impl_->Proxy(path);
  impl_->onEvent = std::move(handler);
  impl_->subscription->registerSignalHandler(aedbus::kSinkInterface, aedbus::kOnEventSignal,
                                             [this](sdbus::Signal signal) {
                                               uint32_t handle = 0;
                                               bool refresh = false, last = false;
                                               std::vector<ONEVENTSTRUCT> events;
                                               signal >> handle >> refresh >> last;
                                               aedbus::Read(signal, events);
                                               if (impl_->onEvent) impl_->onEvent(refresh, last, events);
                                             });
  impl_->subscription->finishRegistration();
  auto filter = impl_->subscription->createMethodCall(aedbus::kSubscriptionInterface, "SetFilter");
  filter << f.eventType << f.categories << f.lowSeverity << f.highSeverity << f.areas << f.sources;
  hr = impl_->Call(*impl_->subscription, filter, &reply);
  if (FAILED(hr)) return hr;
  auto advise = impl_->subscription->createMethodCall(aedbus::kConnectionPointInterface, "Advise");
  hr = impl_->Call(*impl_->subscription, advise, &reply);
  if (SUCCEEDED(hr)) reply >> impl_->cookie;
  return hr;
}

HRESULT CAEDBusClient::Refresh() {
  if (!impl_->subscription) return E_UNEXPECTED;
  auto call = impl_->subscription->createMethodCall(aedbus::kSubscriptionInterface, "Refresh");
  call << impl_->cookie;
  sdbus::MethodReply reply;
  return impl_->Call(*impl_->subscription, call, &reply);
}

void CAEDBusClient::OnShutdown(ShutdownHandler handler) { impl_->onShutdown = std::move(handler); }

bool CAEDBusClient::Pump(int timeoutMs) {
  uint64_t end = NowUs() + uint64_t(timeoutMs) * 1000;
  try {
    while (true) {
      while (impl_->connection->processPendingRequest()) {
      }
      uint64_t now = NowUs();
      if (now >= end) return true;
      auto data = impl_->connection->getEventLoopPollData();
      uint64_t until = std::min<uint64_t>(end, data.timeout_usec);
      pollfd fd{data.fd, data.events, 0};
      ::poll(&fd, 1, static_cast<int>((until > now ? until - now + 999 : 0) / 1000));
    }
  } catch (const sdbus::Error& e) {
    impl_->error = e.getMessage();
    return false;
  }
}
