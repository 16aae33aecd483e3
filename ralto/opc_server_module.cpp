// The exports of the in-process server library ralto_opc.
#include <string>

#include "platform/class_factory.h"
#include "platform/opcda.h"
#include "platform/registry.h"
#include "ralto/opc_server.h"
#include "platform/class_object.h"
#include "platform/dll_export.h"
#include "platform/sysinfo.h"
#include "ralto/opc_faults.h"
#include "ralto/opc_server_object.h"

namespace {

// HKCR\CLSID\{clsid}\Implemented Categories\{CATID_OPCDAServer20}: what OPC
// server browsers look for.
std::string CategoryKey() {
  return "CLSID\\" + GuidToString(CLSID_RaltoOpcServer) + "\\Implemented Categories\\" +
         GuidToString(CATID_OPCDAServer20);
}

}  // namespace

AE_DLL_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_RaltoOpcServer) return CLASS_E_CLASSNOTAVAILABLE;
  return CClassObject::Serve(
      [](const IID& iid, void** object) {
        if (HRESULT hr = CRaltoOpcFaults::Instance().Check(RALTO_CALL_CREATEINSTANCE); FAILED(hr)) return hr;
        return CreateComObject<CRaltoOpcServer>(iid, object);
      },
      iid, object);
}

AE_DLL_EXPORT HRESULT DllRegisterServer() {
  std::string path = GetModulePath(reinterpret_cast<const void*>(&DllRegisterServer));
  if (path.empty()) return E_UNEXPECTED;
  HRESULT hr = RegisterInprocServer(CLSID_RaltoOpcServer, kRaltoOpcProgId, kRaltoOpcDescription, path);
  if (FAILED(hr)) return hr;
  HKEY key = nullptr;
  LONG err = RegCreateKeyEx(HKEY_CLASSES_ROOT, CategoryKey(), KEY_ALL_ACCESS, &key, nullptr);
  if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
  RegCloseKey(key);
  return S_OK;
}

AE_DLL_EXPORT HRESULT DllUnregisterServer() {
  return UnregisterInprocServer(CLSID_RaltoOpcServer, kRaltoOpcProgId);
}
