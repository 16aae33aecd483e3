#include "platform/class_factory.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/debug.h"
#include "platform/global_interface_table.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace {

struct Registration {
  CLSID clsid;
  IUnknown* factory;
  DWORD context;
  DWORD cookie;
};

std::mutex g_registrationsMutex;
std::vector<Registration> g_registrations;
DWORD g_lastCookie = 0;

// Loaded in-process servers by their registered name; never unloaded,
// since objects they made may live until the process ends.
std::mutex g_librariesMutex;
std::map<std::string, DllGetClassObjectFn> g_libraries;

std::string ClsidKey(const CLSID& clsid) { return "CLSID\\" + GuidToString(clsid); }

HRESULT FromWin32(LONG err) { return err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(err); }

// The registered factory for clsid in one of the contexts, AddRef'd.
IUnknown* FindRegistered(const CLSID& clsid, DWORD context) {
  std::lock_guard lock(g_registrationsMutex);
  for (const Registration& r : g_registrations) {
    if (r.clsid == clsid && (r.context & context)) {
      r.factory->AddRef();
      return r.factory;
    }
  }
  return nullptr;
}

HRESULT LoadServer(const std::string& name, DllGetClassObjectFn& entry) {
  std::lock_guard lock(g_librariesMutex);
  if (auto it = g_libraries.find(name); it != g_libraries.end()) {
    entry = it->second;
    return S_OK;
  }
  std::string path = name;
  if (name.find('/') == std::string::npos) {
    // As LoadLibrary: the program's own folder first.
    std::string local = GetProgramFolder() + name;
    std::error_code ec;
    if (std::filesystem::exists(local, ec)) path = local;
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    DebugOutput("CoGetClassObject: cannot load " + name + ": " + (why ? why : "unknown error") + "\n");
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  }
  entry = reinterpret_cast<DllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  if (!entry) {
    DebugOutput("CoGetClassObject: " + name + " exports no DllGetClassObject\n");
    dlclose(library);
    return CO_E_ERRORINDLL;
  }
  g_libraries.emplace(name, entry);
  return S_OK;
}

}  // namespace

HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  if (progId.empty() || progId.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
  std::string text;
  LONG err = RegGetString(HKEY_CLASSES_ROOT, progId + "\\CLSID", "", text);
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_UNSUPPORTED_TYPE) return CO_E_CLASSSTRING;
  if (err != ERROR_SUCCESS) return REGDB_E_READREGDB;
  return GuidFromString(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CLSIDFromString(const std::string& text, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  if (!text.empty() && text.front() == '{')
    return GuidFromString(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
  return CLSIDFromProgID(text, clsid);
}

HRESULT CoGetClassObject(const CLSID& clsid, DWORD clsContext, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IUnknown* factory = FindRegistered(clsid, clsContext)) {
    HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
  }
  if (!(clsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  if (clsid == CLSID_StdGlobalInterfaceTable) return GetGlobalInterfaceTableClassObject(iid, object);

  std::string library;
  LONG err = RegGetString(HKEY_CLASSES_ROOT, ClsidKey(clsid) + "\\InprocServer32", "", library);
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_UNSUPPORTED_TYPE) return REGDB_E_CLASSNOTREG;
  if (err != ERROR_SUCCESS) return REGDB_E_READREGDB;
  if (library.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  DllGetClassObjectFn entry;
  HRESULT hr = LoadServer(library, entry);
  if (FAILED(hr)) return hr;
  hr = entry(clsid, iid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD clsContext, const IID& iid,
                         void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, clsContext, IID_IClassFactory, factory.PutVoid());
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT CoRegisterClassObject(const CLSID& clsid, IUnknown* factory, DWORD clsContext, DWORD,
                              DWORD* cookie) {
  if (!factory || !cookie || clsContext == 0) return E_INVALIDARG;
  factory->AddRef();
  std::lock_guard lock(g_registrationsMutex);
  if (++g_lastCookie == 0) ++g_lastCookie;
  g_registrations.push_back(Registration{clsid, factory, clsContext, g_lastCookie});
  *cookie = g_lastCookie;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  IUnknown* factory = nullptr;
  {
    std::lock_guard lock(g_registrationsMutex);
    for (auto it = g_registrations.begin(); it != g_registrations.end(); ++it) {
      if (it->cookie == cookie) {
        factory = it->factory;
        g_registrations.erase(it);
        break;
      }
    }
  }
  if (!factory) return E_INVALIDARG;
  factory->Release();
  return S_OK;
}

HRESULT RegisterInprocServer(const CLSID& clsid, const std::string& progId,
                             const std::string& description, const std::string& libraryPath) {
  if (progId.empty() || progId.find('\\') != std::string::npos) return E_INVALIDARG;
  HRESULT hr = UnregisterInprocServer(clsid, progId);
  if (FAILED(hr)) return hr;
  const std::string clsidText = GuidToString(clsid);
  const std::string key = ClsidKey(clsid);
  const struct {
    std::string subKey, name, data;
  } entries[] = {
      {progId, "", description},
      {progId + "\\CLSID", "", clsidText},
      {key, "", description},
      {key + "\\InprocServer32", "", libraryPath},
      {key + "\\InprocServer32", "ThreadingModel", "Both"},
      {key + "\\ProgID", "", progId},
  };
  for (const auto& e : entries) {
    LONG err = RegSetString(HKEY_CLASSES_ROOT, e.subKey, e.name, e.data);
    if (err != ERROR_SUCCESS) return FromWin32(err);
  }
  return S_OK;
}

HRESULT UnregisterInprocServer(const CLSID& clsid, const std::string& progId) {
  if (progId.empty() || progId.find('\\') != std::string::npos) return E_INVALIDARG;
  for (const std::string& subKey : {progId, ClsidKey(clsid)}) {
    LONG err = RegDeleteTree(HKEY_CLASSES_ROOT, subKey);
    if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) return FromWin32(err);
  }
  return S_OK;
}
