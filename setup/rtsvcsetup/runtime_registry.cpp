#include "setup/rtsvcsetup/runtime_registry.h"

#include <cstring>

#include "platform/registry.h"
#include "platform/utf.h"

namespace rtsvc {

namespace {

constexpr DWORD kTypesSupported = 7;
constexpr DWORD kCategoryCount = 3;
constexpr DWORD kDatSaved = 1;
constexpr DWORD kHeapSize = 0x100000;
constexpr DWORD kVarHeapSize = 0x40000;
constexpr const char* kDatabaseExtension = ".run";

namespace value {
constexpr const char* kEventMessageFile = "EventMessageFile";
constexpr const char* kTypesSupported = "TypesSupported";
constexpr const char* kCategoryCount = "CategoryCount";
constexpr const char* kCategoryMessageFile = "CategoryMessageFile";
constexpr const char* kDbName = "brannockDBName";
constexpr const char* kDatSaved = "brannockDATSaved";
constexpr const char* kHeapSize = "brannockHeapSize";
constexpr const char* kVarHeapSize = "brannockVarHeapSize";
}  // namespace value

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The text with its terminating NUL counted, as the values are written.
LONG SetText(HKEY key, const char* name, DWORD type, const std::string& text) {
  return RegSetValueEx(key, name, type, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

// Whether the multi-string list holds `name`, ignoring case. Every string
// counts, those after an empty one too.
bool Lists(const std::string& data, const std::string& name) {
  const std::string wanted = FoldCase(name);
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    if (FoldCase(std::string_view(data).substr(pos, end - pos)) == wanted) return true;
    pos = end + 1;
  }
  return false;
}

}  // namespace

void AdmitRuntimePipe() {
  HKEY key;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServerParametersKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  DWORD type = REG_NONE, size = 0;
  if (RegQueryValueEx(key, kNullSessionPipes, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
    std::string data(size, '\0');
    if (RegQueryValueEx(key, kNullSessionPipes, &type, reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS &&
        !Lists(data.substr(0, size), kRuntimePipe)) {
      // After the last string of the list, keeping all before it: the
      // pipe, its NUL and the list's closing NUL.
      data.resize(size);
      while (!data.empty() && data.back() == '\0') data.pop_back();
      if (!data.empty()) data += '\0';
      data += std::string(kRuntimePipe) + '\0' + '\0';
      RegSetValueEx(key, kNullSessionPipes, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
    }
  }
  RegCloseKey(key);
}

DWORD RegisterEventSource(const std::string& programPath) {
  HKEY key;
  LONG err = RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(kEventLogSystemKey) + "\\" + kEventSourceName,
                            KEY_SET_VALUE, &key, nullptr);
  if (err != ERROR_SUCCESS) return DWORD(err);
  err = SetText(key, value::kEventMessageFile, REG_EXPAND_SZ, programPath);
  if (err == ERROR_SUCCESS) err = SetDword(key, value::kTypesSupported, kTypesSupported);
  if (err == ERROR_SUCCESS) err = SetDword(key, value::kCategoryCount, kCategoryCount);
  if (err == ERROR_SUCCESS) err = SetText(key, value::kCategoryMessageFile, REG_EXPAND_SZ, programPath);
  RegCloseKey(key);
  return DWORD(err);
}

DWORD DeleteEventSource() {
  HKEY key;
  LONG err = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kEventLogSystemKey, KEY_ALL_ACCESS, &key);
  if (err != ERROR_SUCCESS) return DWORD(err);
  err = RegDeleteKey(key, kEventSourceName);
  RegCloseKey(key);
  return DWORD(err);
}

DWORD WriteRuntimeConfiguration(const std::string& programPath) {
  HKEY key;
  LONG err = RegCreateKeyEx(HKEY_LOCAL_MACHINE, kConfigurationKey, KEY_SET_VALUE, &key, nullptr);
  if (err != ERROR_SUCCESS) return DWORD(err);
  SetText(key, value::kDbName, REG_SZ, RuntimeDatabaseName(programPath));
  err = SetDword(key, value::kDatSaved, kDatSaved);
  SetDword(key, value::kHeapSize, kHeapSize);
  SetDword(key, value::kVarHeapSize, kVarHeapSize);
  RegCloseKey(key);
  return DWORD(err);
}

std::string RuntimeDatabaseName(const std::string& programPath) {
  std::string name = programPath;
  size_t fileName = name.rfind('/') + 1;  // 0 without a folder
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < fileName) dot = name.size();
  name = name.substr(0, dot) + kDatabaseExtension;
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return name;
}

}  // namespace rtsvc
