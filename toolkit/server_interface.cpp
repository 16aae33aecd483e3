#include "toolkit/server_interface.h"

#include "platform/class_factory.h"
#include "toolkit/engine.h"
#include "platform/class_object.h"
#include "toolkit/event_server.h"
#include "toolkit/opcae.h"
#include "toolkit/registrar.h"
#include "toolkit/source.h"

CAEServerInterface g_ServerInterface;

// At exit the engine stops its own thread; the process-wide factory table
// may already be gone, so nothing is revoked here.
CAEServerInterface::~CAEServerInterface() = default;

int CAEServerInterface::Initialize(void*, const CLSID& clsid, const std::string& vendor, char areaDelimiter, int,
                                   const CAEServerRegistration* registration) {
  std::lock_guard lock(mutex_);
  if (initialized_ || areaDelimiter == '\0') return 0;
  // The server's life follows its client objects, not factory locks.
  ComPtr<IClassFactory> factory;
  if (FAILED(CClassObject::Serve(CAEEventServer::Create, IID_IClassFactory, factory.PutVoid()))) return 0;
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) return 0;
  factoryCookie_ = cookie;
  clsid_ = clsid;
  hasRegistration_ = registration != nullptr;
  registration_ = registration ? *registration : CAEServerRegistration();
  CAESource::SetAreaDelimiter(areaDelimiter);
  CAEEngine& engine = CAEEngine::Instance();
  engine.SetIdentity(vendor);
  engine.serverState.store(OPCAE_STATUS_RUNNING);
  engine.Dispatcher().Start();
  initialized_ = true;
  return 1;
}

HRESULT CAEServerInterface::RegisterServer() {
  std::lock_guard lock(mutex_);
  if (!initialized_ || !hasRegistration_) return E_UNEXPECTED;
  return CAERegistrar::Register(clsid_, registration_);
}

HRESULT CAEServerInterface::UnregisterServer() {
  std::lock_guard lock(mutex_);
  if (!initialized_ || !hasRegistration_) return E_UNEXPECTED;
  return CAERegistrar::Unregister(clsid_, registration_);
}

void CAEServerInterface::SetCallbackObject(CAEServerCallback* callback) {
  CAEEngine::Instance().SetCallback(callback);
}

void CAEServerInterface::SetClock(ae::Clock* clock) {
  CAEEngine& engine = CAEEngine::Instance();
  engine.SetClock(clock);
  engine.Dispatcher().Wake();
}

void CAEServerInterface::TimeChanged() { CAEEngine::Instance().Dispatcher().Wake(); }

void CAEServerInterface::SetStatus(DWORD state) { CAEEngine::Instance().serverState.store(state); }

HRESULT CAEServerInterface::SetTraceInfo(int level, int toFile, const std::string& file, DWORD maxBytes) {
  return CAEEngine::Instance().Trace().Configure(level, toFile, file, maxBytes);
}

void CAEServerInterface::EnableCOMCallTracing(BOOL enable) {
  CAEEngine::Instance().Trace().SetCallTracing(enable != false);
}

HRESULT CAEServerInterface::GetStatistic(int index, VARIANT* value) {
  return CAEEngine::Instance().Statistics().Get(index, value);
}

void CAEServerInterface::SetStatsSamplePeriod(DWORD ms) {
  CAEEngine& engine = CAEEngine::Instance();
  engine.Statistics().SetSamplePeriod(ms);
  engine.Dispatcher().Wake();
}

BOOL CAEServerInterface::IsServerInUse() {
  return CAEEngine::Instance().Statistics().eventServers.load() > 0 ? true : false;
}

HRESULT CAEServerInterface::RequestDisconnect(const std::string& reason) {
  CAEEngine& engine = CAEEngine::Instance();
  auto sinks = engine.ShutdownSinks();
  engine.TraceLine(1, "shutdown requested (" + std::to_string(sinks.size()) + " clients): " + reason);
  for (auto& sink : sinks) sink->ShutdownRequest(reason);
  return S_OK;
}

void CAEServerInterface::ValidateSourcesInSetFilter(BOOL validate) {
  CAEEngine::Instance().validateSources.store(validate != false);
}

void CAEServerInterface::ValidateAreasInSetFilter(BOOL validate) {
  CAEEngine::Instance().validateAreas.store(validate != false);
}

void CAEServerInterface::Uninitialize() {
  std::lock_guard lock(mutex_);
  if (!initialized_) return;
  CoRevokeClassObject(factoryCookie_);
  factoryCookie_ = 0;
  CAEEngine::Instance().Dispatcher().Stop();
  initialized_ = false;
}
