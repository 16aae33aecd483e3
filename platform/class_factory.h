// Class creation: CLSIDFromProgID, CoGetClassObject, CoCreateInstance and the
// class factories behind them.
//
// Contract: a factory registered in this process with CoRegisterClassObject
// wins; else the built-in classes (the Global Interface Table); else the
// registry: HKCR\CLSID\{clsid}\InprocServer32 (default value) names a shared
// library, loaded once with dlopen and kept loaded for the life of the
// process, whose exported (AE_DLL_EXPORT, platform/dll_export.h)
//     extern "C" HRESULT DllGetClassObject(const CLSID&, const IID&, void**)
// gives the factory. A bare file name is looked for in the program's folder
// first, then by the dynamic loader's search. Failures answer the Windows
// HRESULTs: REGDB_E_CLASSNOTREG (class not registered for the asked
// context), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) (library missing or not
// loadable; the loader's message goes to DebugOutput), CO_E_ERRORINDLL (no
// DllGetClassObject export), CLASS_E_NOAGGREGATION (an outer unknown given),
// CO_E_CLASSSTRING (bad or unknown ProgID / CLSID text), REGDB_E_READREGDB
// (the registry store cannot be read). Every function is thread-safe.
#pragma once

#include <string>

#include "platform/com.h"

// {00000001-0000-0000-C000-000000000046}
constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_MULTI_SEPARATE = 2;

// What an in-process server library exports.
using DllGetClassObjectFn = HRESULT (*)(const CLSID&, const IID&, void**);

// The CLSID of HKCR\<progId>\CLSID (default value).
HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid);
// "{...}" parses as a GUID; any other text is taken for a ProgID, as Windows does.
HRESULT CLSIDFromString(const std::string& text, CLSID* clsid);

// The class object (factory) of `clsid`, queried for `iid`.
// REQUIRES: object != nullptr.
HRESULT CoGetClassObject(const CLSID& clsid, DWORD clsContext, const IID& iid, void** object);
// A new instance of `clsid`, queried for `iid`. *object is null on failure.
// REQUIRES: object != nullptr.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD clsContext, const IID& iid,
                         void** object);

// Makes `factory` (an IClassFactory; AddRef'd, released on revoke) the
// class object of `clsid` in this process for the contexts in clsContext.
// *cookie identifies the registration for CoRevokeClassObject. Every
// registration serves any number of creations (REGCLS_MULTIPLEUSE);
// `flags` is taken for the Windows signature only.
HRESULT CoRegisterClassObject(const CLSID& clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                              DWORD* cookie);
// E_INVALIDARG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);

// What DllRegisterServer writes for an in-process class: HKCR\<progId>
// (default = description) with subkey CLSID (default = "{clsid}"), and
// HKCR\CLSID\{clsid} (default = description) with subkeys InprocServer32
// (default = libraryPath, ThreadingModel = "Both") and ProgID (default =
// progId). Replaces an earlier registration of the same class.
HRESULT RegisterInprocServer(const CLSID& clsid, const std::string& progId,
                             const std::string& description, const std::string& libraryPath);
// Registry failures come back as HRESULT_FROM_WIN32(code).
// Removes both keys with their subtrees; S_OK also when they were missing.
HRESULT UnregisterInprocServer(const CLSID& clsid, const std::string& progId);
