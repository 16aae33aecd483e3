// The exports of the in-process server library ralto_opc.
#include <dlfcn.h>
#include <stdlib.h>

#include <new>
#include <string>

#include "platform/class_factory.h"
#include "platform/opcda.h"
#include "platform/registry.h"
#include "ralto/opc_server.h"
#include "ralto/opc_server_factory.h"

#define RALTO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

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

// HKCR\CLSID\{clsid}\Implemented Categories\{CATID_OPCDAServer20}: what OPC
// server browsers look for.
std::string CategoryKey() {
  return "CLSID\\" + GuidToString(CLSID_RaltoOpcServer) + "\\Implemented Categories\\" +
         GuidToString(CATID_OPCDAServer20);
}

}  // namespace

RALTO_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_RaltoOpcServer) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CRaltoOpcServerFactory;
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

RALTO_EXPORT HRESULT DllRegisterServer() {
  std::string path = LibraryPath();
  if (path.empty()) return E_UNEXPECTED;
  HRESULT hr = RegisterInprocServer(CLSID_RaltoOpcServer, kRaltoOpcProgId, kRaltoOpcDescription, path);
  if (FAILED(hr)) return hr;
  HKEY key = nullptr;
  LONG err = RegCreateKeyEx(HKEY_CLASSES_ROOT, CategoryKey(), KEY_ALL_ACCESS, &key, nullptr);
  if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
  RegCloseKey(key);
  return S_OK;
}

RALTO_EXPORT HRESULT DllUnregisterServer() {
  return UnregisterInprocServer(CLSID_RaltoOpcServer, kRaltoOpcProgId);
}
