#include "platform/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/registry_hive.h"

// Values are stored in a normal form: REG_SZ and REG_EXPAND_SZ as their text
// without terminator, REG_MULTI_SZ as its strings each followed by one NUL
// (empty strings inside the list included), anything else as the bytes
// given. Callers see the Windows form.

struct RegKey {
  RegistryHive* hive;
  int64_t id;
  std::string path;  // folded
  REGSAM access;
};

namespace {

constexpr size_t kMaxKeyNameChars = 255;
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_DELETE;

std::mutex g_handlesMutex;
std::unordered_set<RegKey*> g_handles;

// What a HKEY stands for, resolved for one call.
struct Target {
  RegistryHive* hive = nullptr;
  std::string path;                // folded path of the key
  std::vector<std::string> names;  // its names from the hive root, for a predefined key
  REGSAM access = KEY_ALL_ACCESS;
  int64_t id = 0;                  // an open handle's key
  bool predefined = false;
};

bool Resolve(HKEY key, Target& t) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT) {
    t.hive = key == HKEY_CURRENT_USER ? &RegistryHive::User() : &RegistryHive::Machine();
    t.predefined = true;
    if (key == HKEY_CLASSES_ROOT) {
      t.names = {"SOFTWARE", "Classes"};
      t.path = RegistryHive::Fold("SOFTWARE\\Classes");
    }
    return true;
  }
  std::lock_guard lock(g_handlesMutex);
  if (!g_handles.count(key)) return false;
  t.hive = key->hive;
  t.path = key->path;
  t.access = key->access;
  t.id = key->id;
  return true;
}

// The key's id: an open handle's own (if its key still exists), a
// predefined key's by its path.
LONG KeyId(const Target& t, int64_t& id) {
  if (!t.predefined) {
    id = t.id;
    return t.hive->CheckKey(id);
  }
  return t.path.empty() ? t.hive->RootId(id) : t.hive->FindKey(t.path, id);
}

LONG SplitSubKey(const std::string& subKey, std::vector<std::string>& names) {
  size_t start = 0;
  while (start <= subKey.size()) {
    size_t end = subKey.find('\\', start);
    if (end == std::string::npos) end = subKey.size();
    size_t chars = 0;
    for (size_t i = start; i < end; ++i) chars += (static_cast<unsigned char>(subKey[i]) & 0xC0) != 0x80;
    if (chars > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    if (end > start) names.push_back(subKey.substr(start, end - start));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::string ChildPath(const std::string& path, const std::vector<std::string>& names) {
  std::string out = path;
  for (const std::string& n : names) {
    if (!out.empty()) out += '\\';
    out += RegistryHive::Fold(n);
  }
  return out;
}

// The folded path of root\subKey, after checking root.
LONG SubKeyPath(HKEY root, const std::string& subKey, Target& t, std::vector<std::string>& names,
                std::string& path) {
  if (!Resolve(root, t)) return ERROR_INVALID_HANDLE;
  LONG err = SplitSubKey(subKey, names);
  if (err != ERROR_SUCCESS) return err;
  if (!t.predefined) {
    err = t.hive->CheckKey(t.id);
    if (err != ERROR_SUCCESS) return err;
  }
  path = ChildPath(t.path, names);
  return ERROR_SUCCESS;
}

HKEY NewHandle(RegistryHive* hive, int64_t id, std::string path, REGSAM access) {
  HKEY key = new RegKey{hive, id, std::move(path), access};
  std::lock_guard lock(g_handlesMutex);
  g_handles.insert(key);
  return key;
}

std::string ToWindowsForm(DWORD type, const std::string& stored) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) return stored + '\0';
  if (type == REG_MULTI_SZ) return stored.empty() ? std::string(2, '\0') : stored + '\0';
  return stored;
}

LONG ToStoredForm(DWORD type, const BYTE* data, DWORD size, std::string& stored) {
  if (!data && size) return ERROR_INVALID_PARAMETER;
  const char* text = reinterpret_cast<const char*>(data);
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    stored.assign(text ? text : "", text ? strnlen(text, size) : 0);
  } else if (type == REG_MULTI_SZ) {
    // Kept as given, as Windows keeps it: a list may hold empty strings
    // (the Session Manager's pending renames do). Only the list's closing
    // NUL goes, and a last string without its NUL gets one.
    stored.assign(text ? text : "", size);
    if (stored.size() >= 2 && stored.ends_with(std::string_view("\0\0", 2)))
      stored.pop_back();
    else if (!stored.empty() && stored.back() != '\0')
      stored += '\0';
    if (stored == std::string_view("\0", 1)) stored.clear();
  } else if (type == REG_DWORD && size != sizeof(DWORD)) {
    return ERROR_INVALID_PARAMETER;
  } else {
    stored.assign(text ? text : "", size);
  }
  return ERROR_SUCCESS;
}

// One value of root\subKey in its stored form.
LONG ReadValue(HKEY root, const std::string& subKey, const std::string& value, DWORD& type,
               std::string& stored) {
  Target t;
  std::vector<std::string> names;
  std::string path;
  LONG err = SubKeyPath(root, subKey, t, names, path);
  if (err != ERROR_SUCCESS) return err;
  if (t.predefined) return t.hive->GetValueAt(path, RegistryHive::Fold(value), type, stored);
  if (!(t.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  int64_t id = t.id;
  if (!names.empty()) {
    err = t.hive->FindKey(path, id);
    if (err != ERROR_SUCCESS) return err;
  }
  return t.hive->GetValue(id, RegistryHive::Fold(value), type, stored);
}

LONG WriteValue(HKEY root, const std::string& subKey, const std::string& value, DWORD type,
                const BYTE* data, DWORD size) {
  std::vector<std::string> names;
  LONG err = SplitSubKey(subKey, names);
  if (err != ERROR_SUCCESS) return err;
  if (names.empty()) return RegSetValueEx(root, value, type, data, size);  // the key's own access
  HKEY key;
  err = RegCreateKeyEx(root, subKey, KEY_SET_VALUE, &key, nullptr);
  if (err != ERROR_SUCCESS) return err;
  err = RegSetValueEx(key, value, type, data, size);
  RegCloseKey(key);
  return err;
}

std::string ComputeRegistryDirectory() {
  if (const char* dir = getenv("AE_REGISTRY_DIR"); dir && *dir) return dir;
  if (const char* data = getenv("XDG_DATA_HOME"); data && *data)
    return std::string(data) + "/aeserver/registry";
  const char* home = getenv("HOME");
  if (!home || !*home) {
    const passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/share/aeserver/registry";
}

}  // namespace

std::string RegistryDirectory() {
  static const std::string dir = ComputeRegistryDirectory();
  return dir;
}

LONG RegCreateKeyEx(HKEY root, const std::string& subKey, REGSAM samDesired, HKEY* result,
                    DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Target t;
  std::vector<std::string> names;
  std::string path;
  LONG err = SubKeyPath(root, subKey, t, names, path);
  if (err != ERROR_SUCCESS) return err;

  int64_t id;
  bool created = false;
  err = t.hive->FindKey(path, id);
  if (err == ERROR_FILE_NOT_FOUND) {
    if (!(t.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    int64_t start = t.id;
    std::string startPath = t.path;
    if (t.predefined) {
      err = t.hive->RootId(start);
      if (err != ERROR_SUCCESS) return err;
      startPath.clear();
      names.insert(names.begin(), t.names.begin(), t.names.end());
    }
    err = t.hive->CreateKey(start, startPath, names, id, path, created);
  }
  if (err != ERROR_SUCCESS) return err;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(t.hive, id, path, samDesired);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY root, const std::string& subKey, REGSAM samDesired, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Target t;
  std::vector<std::string> names;
  std::string path;
  LONG err = SubKeyPath(root, subKey, t, names, path);
  if (err != ERROR_SUCCESS) return err;
  int64_t id;
  err = t.hive->FindKey(path, id);
  if (err != ERROR_SUCCESS) return err;
  *result = NewHandle(t.hive, id, path, samDesired);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT)
    return ERROR_SUCCESS;
  {
    std::lock_guard lock(g_handlesMutex);
    if (!g_handles.erase(key)) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const std::string& name, DWORD* type, BYTE* data, DWORD* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  Target t;
  if (!Resolve(key, t)) return ERROR_INVALID_HANDLE;
  if (!(t.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  int64_t id;
  LONG err = KeyId(t, id);
  if (err != ERROR_SUCCESS) return err;
  DWORD storedType;
  std::string stored;
  err = t.hive->GetValue(id, RegistryHive::Fold(name), storedType, stored);
  if (err != ERROR_SUCCESS) return err;
  std::string bytes = ToWindowsForm(storedType, stored);
  if (type) *type = storedType;
  if (!size) return ERROR_SUCCESS;
  DWORD room = *size;
  *size = DWORD(bytes.size());
  if (!data) return ERROR_SUCCESS;
  if (room < bytes.size()) return ERROR_MORE_DATA;
  std::memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const std::string& name, DWORD type, const BYTE* data, DWORD size) {
  Target t;
  if (!Resolve(key, t)) return ERROR_INVALID_HANDLE;
  if (!(t.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string stored;
  LONG err = ToStoredForm(type, data, size, stored);
  if (err != ERROR_SUCCESS) return err;
  int64_t id;
  err = KeyId(t, id);
  return err != ERROR_SUCCESS ? err : t.hive->SetValue(id, name, type, stored);
}

LONG RegDeleteValue(HKEY key, const std::string& name) {
  Target t;
  if (!Resolve(key, t)) return ERROR_INVALID_HANDLE;
  if (!(t.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  int64_t id;
  LONG err = KeyId(t, id);
  return err != ERROR_SUCCESS ? err : t.hive->DeleteValue(id, RegistryHive::Fold(name));
}

LONG RegDeleteKey(HKEY root, const std::string& subKey) {
  Target t;
  std::vector<std::string> names;
  std::string path;
  LONG err = SubKeyPath(root, subKey, t, names, path);
  if (err != ERROR_SUCCESS) return err;
  if (!(t.access & kWriteAccess)) return ERROR_ACCESS_DENIED;
  if (t.predefined && names.empty()) return ERROR_ACCESS_DENIED;  // the roots stay
  return t.hive->DeleteKey(path, false, false);
}

LONG RegDeleteTree(HKEY root, const std::string& subKey) {
  Target t;
  std::vector<std::string> names;
  std::string path;
  LONG err = SubKeyPath(root, subKey, t, names, path);
  if (err != ERROR_SUCCESS) return err;
  if (!(t.access & kWriteAccess)) return ERROR_ACCESS_DENIED;
  return t.hive->DeleteKey(path, true, names.empty());
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string& name) {
  Target t;
  if (!Resolve(key, t)) return ERROR_INVALID_HANDLE;
  if (!(t.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  int64_t id;
  LONG err = KeyId(t, id);
  return err != ERROR_SUCCESS ? err : t.hive->EnumKey(id, index, name);
}

LONG RegEnumValue(HKEY key, DWORD index, std::string& name, DWORD* type) {
  Target t;
  if (!Resolve(key, t)) return ERROR_INVALID_HANDLE;
  if (!(t.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  int64_t id;
  LONG err = KeyId(t, id);
  if (err != ERROR_SUCCESS) return err;
  DWORD valueType;
  err = t.hive->EnumValue(id, index, name, valueType);
  if (err == ERROR_SUCCESS && type) *type = valueType;
  return err;
}

LONG RegGetDword(HKEY root, const std::string& subKey, const std::string& value, DWORD& out) {
  DWORD type;
  std::string stored;
  LONG err = ReadValue(root, subKey, value, type, stored);
  if (err != ERROR_SUCCESS) return err;
  if (type != REG_DWORD || stored.size() != sizeof(DWORD)) return ERROR_UNSUPPORTED_TYPE;
  std::memcpy(&out, stored.data(), sizeof out);
  return ERROR_SUCCESS;
}

LONG RegGetString(HKEY root, const std::string& subKey, const std::string& value, std::string& out) {
  DWORD type;
  std::string stored;
  LONG err = ReadValue(root, subKey, value, type, stored);
  if (err != ERROR_SUCCESS) return err;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
  out = std::move(stored);
  return ERROR_SUCCESS;
}

LONG RegGetMultiString(HKEY root, const std::string& subKey, const std::string& value,
                       std::vector<std::string>& out) {
  DWORD type;
  std::string stored;
  LONG err = ReadValue(root, subKey, value, type, stored);
  if (err != ERROR_SUCCESS) return err;
  if (type != REG_MULTI_SZ) return ERROR_UNSUPPORTED_TYPE;
  out.clear();
  for (size_t pos = 0; pos < stored.size();) {
    size_t end = stored.find('\0', pos);
    if (end == pos) break;  // an empty string ends the list for a list reader
    out.push_back(stored.substr(pos, end - pos));
    pos = end + 1;
  }
  return ERROR_SUCCESS;
}

LONG RegGetBinary(HKEY root, const std::string& subKey, const std::string& value,
                  std::vector<BYTE>& out) {
  DWORD type;
  std::string stored;
  LONG err = ReadValue(root, subKey, value, type, stored);
  if (err != ERROR_SUCCESS) return err;
  if (type != REG_BINARY) return ERROR_UNSUPPORTED_TYPE;
  out.assign(stored.begin(), stored.end());
  return ERROR_SUCCESS;
}

LONG RegSetDword(HKEY root, const std::string& subKey, const std::string& value, DWORD data) {
  return WriteValue(root, subKey, value, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                    sizeof data);
}

LONG RegSetString(HKEY root, const std::string& subKey, const std::string& value,
                  const std::string& data, DWORD type) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  return WriteValue(root, subKey, value, type, reinterpret_cast<const BYTE*>(data.c_str()),
                    DWORD(data.size() + 1));
}

LONG RegSetMultiString(HKEY root, const std::string& subKey, const std::string& value,
                       const std::vector<std::string>& data) {
  std::string bytes;
  for (const std::string& s : data) {
    if (s.empty() || s.find('\0') != std::string::npos) return ERROR_INVALID_PARAMETER;
    bytes += s;
    bytes += '\0';
  }
  bytes += '\0';
  return WriteValue(root, subKey, value, REG_MULTI_SZ,
                    reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
}

LONG RegSetBinary(HKEY root, const std::string& subKey, const std::string& value,
                  const std::vector<BYTE>& data) {
  return WriteValue(root, subKey, value, REG_BINARY, data.data(), DWORD(data.size()));
}
