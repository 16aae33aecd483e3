// The fixture of the installer library's tests: the library loaded with
// dlopen, its exports by name, and readers of what they leave in the
// registry store, value by value.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "installer_library.h"
#include "platform/registry.h"
#include "setup/rtsvcsetup/rtsvcsetup.h"
#include "tests/support/service_test_support.h"

inline const std::string kRuntimeKey = "SYSTEM\\CurrentControlSet\\Services\\BrannockRuntime";
inline const std::string kEventSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Brannock Runtime";
inline const std::string kParametersKey = "SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters";
inline const std::string kConfigurationKey = "SOFTWARE\\Quillan\\Loomhall\\Configuration";

// One registry value: its type and its bytes as RegQueryValueEx gives them.
struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;
  friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

inline StoredValue Dword(DWORD value) {
  return {REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value)};
}
inline StoredValue Text(const std::string& text, DWORD type = REG_SZ) { return {type, text + '\0'}; }

inline void PrintTo(const StoredValue& v, std::ostream* os) {
  *os << "type " << v.type << " \"";
  for (char c : v.data) *os << (c ? std::string(1, c) : std::string("\\0"));
  *os << "\"";
}

// Every value of a key (empty when the key is missing).
inline std::map<std::string, StoredValue> KeyValues(const std::string& key) {
  std::map<std::string, StoredValue> values;
  HKEY k;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, KEY_READ, &k) != ERROR_SUCCESS) return values;
  std::string name;
  for (DWORD i = 0; RegEnumValue(k, i, name, nullptr) == ERROR_SUCCESS; ++i) {
    StoredValue v;
    DWORD size = 0;
    RegQueryValueEx(k, name, &v.type, nullptr, &size);
    v.data.resize(size);
    RegQueryValueEx(k, name, &v.type, reinterpret_cast<BYTE*>(v.data.data()), &size);
    values[name] = v;
  }
  RegCloseKey(k);
  return values;
}

inline bool KeyExists(const std::string& key) {
  HKEY k;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

inline LONG SetRaw(const std::string& key, const std::string& name, DWORD type, const std::string& data) {
  HKEY k;
  LONG err = RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS, &k, nullptr);
  if (err != ERROR_SUCCESS) return err;
  err = RegSetValueEx(k, name, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
  RegCloseKey(k);
  return err;
}

class RuntimeSetup : public ServiceTest {
 protected:
  explicit RuntimeSetup(const char* library = RTSVCSETUP_LIBRARY) : library_(library) {}

  void SetUp() override {
    ASSERT_TRUE(library_.Loaded()) << dlerror();
    isService = library_.Export<decltype(isBrannockService)>("isBrannockService");
    hasAdmin = library_.Export<decltype(hasAdminRights)>("hasAdminRights");
    add = library_.Export<decltype(addBrannockService)>("addBrannockService");
    start = library_.Export<decltype(startBrannockService)>("startBrannockService");
    stop = library_.Export<decltype(stopBrannockService)>("stopBrannockService");
    remove = library_.Export<decltype(removeBrannockService)>("removeBrannockService");
    cleanUp = library_.Export<decltype(cleanUpCalderINI)>("cleanUpCalderINI");
    replaceAtReboot = library_.Export<decltype(replaceFileAtReboot)>("replaceFileAtReboot");
    for (void* f : {(void*)isService, (void*)hasAdmin, (void*)add, (void*)start, (void*)stop, (void*)remove,
                    (void*)cleanUp, (void*)replaceAtReboot})
      ASSERT_NE(f, nullptr);
  }

  // addBrannockService(path, start) with its error output.
  uint32_t Add(const std::string& path, uint32_t startIt, uint32_t& error) {
    void* block[] = {const_cast<char*>(path.c_str()), &error};
    return add(block, startIt);
  }
  // An export whose block is just the error output.
  static uint32_t Call(decltype(startBrannockService)* f, uint32_t& error) {
    void* block[] = {&error};
    return f(block);
  }
  uint32_t IsService() {
    int32_t exists = -1;
    void* block[] = {&exists};
    uint32_t result = isService(block);
    EXPECT_EQ(uint32_t(exists), result);
    return result;
  }

  InstallerLibrary library_;
  decltype(isBrannockService)* isService = nullptr;
  decltype(hasAdminRights)* hasAdmin = nullptr;
  decltype(addBrannockService)* add = nullptr;
  decltype(startBrannockService)* start = nullptr;
  decltype(stopBrannockService)* stop = nullptr;
  decltype(removeBrannockService)* remove = nullptr;
  decltype(cleanUpCalderINI)* cleanUp = nullptr;
  decltype(replaceFileAtReboot)* replaceAtReboot = nullptr;
};
