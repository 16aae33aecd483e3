#include "toolkit/registrar.h"

#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"

namespace {

// Stops at the first failing store call.
class Writer {
 public:
  void Value(const std::string& key, const std::string& name, const std::string& data) {
    if (error_ == ERROR_SUCCESS) error_ = RegSetString(HKEY_CLASSES_ROOT, key, name, data);
  }
  void Key(const std::string& key) {
    if (error_ != ERROR_SUCCESS) return;
    HKEY h = nullptr;
    error_ = RegCreateKeyEx(HKEY_CLASSES_ROOT, key, KEY_WRITE, &h, nullptr);
    if (error_ == ERROR_SUCCESS) RegCloseKey(h);
  }
  void Remove(const std::string& key) {
    if (error_ != ERROR_SUCCESS) return;
    LONG e = RegDeleteTree(HKEY_CLASSES_ROOT, key);
    if (e != ERROR_FILE_NOT_FOUND) error_ = e;
  }
  HRESULT Result() const { return HRESULT_FROM_WIN32(error_); }

 private:
  LONG error_ = ERROR_SUCCESS;
};

}  // namespace

HRESULT CAERegistrar::Register(const CLSID& clsid, const CAEServerRegistration& r) {
  if (r.progId.empty() || r.description.empty()) return E_INVALIDARG;
  const std::string guid = GuidToString(clsid);
  const std::string clsidKey = "CLSID\\" + guid;
  const std::string appIdKey = "AppID\\" + guid;
  const std::string serverPath = r.localServerPath.empty() ? GetProgramPath() : r.localServerPath;
  Writer w;
  for (const std::string& progId : {r.progId, r.versionIndependentProgId}) {
    if (progId.empty()) continue;
    w.Value(progId, "", r.description);
    w.Value(progId + "\\CLSID", "", guid);
  }
  w.Remove(clsidKey);
  w.Value(clsidKey, "", r.description);
  w.Value(clsidKey, "AppId", guid);
  // What OPC server browsers look for.
  w.Key(clsidKey + "\\Implemented Categories\\" + GuidToString(CATID_OPCAEServer10));
  w.Value(clsidKey + "\\ProgID", "", r.progId);
  if (!r.versionIndependentProgId.empty()) w.Value(clsidKey + "\\VersionIndependentProgID", "", r.versionIndependentProgId);
  w.Value(clsidKey + "\\LocalServer32", "", serverPath);
  w.Remove(appIdKey);
  w.Value(appIdKey, "", r.description);
  if (!r.appIdRunAs.empty()) w.Value(appIdKey, "RunAs", r.appIdRunAs);
  return w.Result();
}

HRESULT CAERegistrar::Unregister(const CLSID& clsid, const CAEServerRegistration& r) {
  const std::string guid = GuidToString(clsid);
  Writer w;
  for (const std::string& progId : {r.progId, r.versionIndependentProgId}) {
    if (!progId.empty()) w.Remove(progId);
  }
  w.Remove("CLSID\\" + guid);
  w.Remove("AppID\\" + guid);
  return w.Result();
}
