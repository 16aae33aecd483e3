// The exports of the in-process server library ralto_config.
#include <dlfcn.h>
#include <stdlib.h>

#include <new>
#include <string>

#include "platform/class_factory.h"
#include "ralto/config_server.h"
#include "ralto/config_server_factory.h"

#define RALTO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr char kDescription[] = "Ralto Configuration Server";

// The absolute path of this library, as the registration must name it.
std::string LibraryPath() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&LibraryPath), &info) == 0 || !info.dli_fname) return {};
  char* resolved = realpath(info.dli_fname, nullptr);
  if (!resolved) return {};
  std::string path = resolved;
  free(resolved);
  return path;
}

}  // namespace

RALTO_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_RaltoConfigServer) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CRaltoConfigServerFactory;
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

RALTO_EXPORT HRESULT DllRegisterServer() {
  std::string path = LibraryPath();
  if (path.empty()) return E_UNEXPECTED;
  return RegisterInprocServer(CLSID_RaltoConfigServer, kRaltoConfigServerProgId, kDescription, path);
}

RALTO_EXPORT HRESULT DllUnregisterServer() {
  return UnregisterInprocServer(CLSID_RaltoConfigServer, kRaltoConfigServerProgId);
}
