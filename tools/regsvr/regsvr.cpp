// regsvr: registers or unregisters an in-process server library, as
// regsvr32 does on Windows: loads the library and calls its
// DllRegisterServer or DllUnregisterServer export.
//
//   regsvr [/s] LIBRARY.so        register
//   regsvr [/s] /u LIBRARY.so     unregister
//
// Exit codes: 0 success, 1 the library or its export failed, 2 usage.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/com.h"

namespace {

using RegisterFn = HRESULT (*)();

int Usage() {
  std::fprintf(stderr,
               "usage: regsvr [/s] [/u] LIBRARY.so\n"
               "  /u  unregister (calls DllUnregisterServer)\n"
               "  /s  silent: print nothing on success\n");
  return 2;
}

bool IsOption(const std::string& arg, char letter) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] | 0x20) == letter;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  bool silent = false;
  std::string library;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (IsOption(arg, 'u')) {
      unregister = true;
    } else if (IsOption(arg, 's')) {
      silent = true;
    } else if (library.empty() && !arg.empty() && arg[0] != '-' && !(arg.size() == 2 && arg[0] == '/')) {
      library = arg;
    } else {
      return Usage();
    }
  }
  if (library.empty()) return Usage();

  // A name given without a folder means the file here, not a search of the
  // loader's path, as for regsvr32.
  std::error_code ec;
  std::string path = std::filesystem::absolute(library, ec).string();
  if (ec) path = library;
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";

  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path.c_str(), dlerror());
    return 1;
  }
  auto fn = reinterpret_cast<RegisterFn>(dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s has no export %s\n", path.c_str(), entry);
    return 1;
  }
  // The library stays loaded until the process ends: what it registered
  // may have left exit handlers behind.
  HRESULT hr = fn();
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s in %s failed: 0x%08X\n", entry, path.c_str(),
                 static_cast<unsigned>(hr));
    return 1;
  }
  if (!silent) std::printf("%s in %s succeeded.\n", entry, path.c_str());
  return 0;
}
