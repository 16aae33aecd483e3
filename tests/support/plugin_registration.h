// RegisterPlugin: registers an in-process server library in the current
// registry store, as regsvr does: loads it (it stays loaded for the life of
// the process) and calls its DllRegisterServer export. For tests and
// benchmarks, which register the Ralto plugins in their own private store.
//
// Contract: the export's HRESULT; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
// when the library does not load, CO_E_ERRORINDLL when it lacks the export.
// `error`, when given, receives the reason of a failure. Any thread.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "platform/com.h"
#include "platform/win32_error.h"

inline HRESULT RegisterPlugin(const char* library, std::string* error = nullptr) {
  auto fail = [&](HRESULT hr, std::string reason) {
    if (error) *error = std::move(reason);
    return hr;
  };
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return fail(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), dlerror());
  auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
  if (!registerServer) return fail(CO_E_ERRORINDLL, std::string(library) + " has no export DllRegisterServer");
  HRESULT hr = registerServer();
  if (FAILED(hr)) {
    char code[11];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    fail(hr, std::string("DllRegisterServer in ") + library + " failed: " + code);
  }
  return hr;
}
