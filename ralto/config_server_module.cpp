// The exports of the in-process server library ralto_config.
#include <string>

#include "platform/class_factory.h"
#include "ralto/config_server.h"
#include "platform/class_object.h"
#include "platform/dll_export.h"
#include "platform/sysinfo.h"
#include "ralto/config_server_object.h"

namespace {

constexpr char kDescription[] = "Ralto Configuration Server";

}  // namespace

AE_DLL_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_RaltoConfigServer) return CLASS_E_CLASSNOTAVAILABLE;
  return CClassObject::Serve(CreateComObject<CRaltoConfigServer>, iid, object);
}

AE_DLL_EXPORT HRESULT DllRegisterServer() {
  std::string path = GetModulePath(reinterpret_cast<const void*>(&DllRegisterServer));
  if (path.empty()) return E_UNEXPECTED;
  return RegisterInprocServer(CLSID_RaltoConfigServer, kRaltoConfigServerProgId, kDescription, path);
}

AE_DLL_EXPORT HRESULT DllUnregisterServer() {
  return UnregisterInprocServer(CLSID_RaltoConfigServer, kRaltoConfigServerProgId);
}
