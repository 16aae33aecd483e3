#include "tools/aereg/key_path.h"

#include <strings.h>

KeyPath KeyPath::Child(const std::string& name) const {
  KeyPath child = *this;
  child.subKey = subKey.empty() ? name : subKey + "\\" + name;
  return child;
}

bool ParseKeyPath(const std::string& text, KeyPath& path) {
  static const struct {
    const char* shortName;
    const char* longName;
    HKEY root;
  } kRoots[] = {
      {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
  };
  size_t slash = text.find('\\');
  std::string root = text.substr(0, slash);
  for (const auto& r : kRoots) {
    if (strcasecmp(root.c_str(), r.shortName) != 0 && strcasecmp(root.c_str(), r.longName) != 0) continue;
    path.root = r.root;
    path.rootName = r.longName;
    path.subKey = slash == std::string::npos ? "" : text.substr(slash + 1);
    while (!path.subKey.empty() && path.subKey.back() == '\\') path.subKey.pop_back();
    return true;
  }
  return false;
}

namespace {

const struct {
  DWORD type;
  const char* name;
} kTypes[] = {
    {REG_NONE, "REG_NONE"},     {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
};

}  // namespace

std::string TypeName(DWORD type) {
  for (const auto& t : kTypes)
    if (t.type == type) return t.name;
  return "REG_UNKNOWN_" + std::to_string(type);
}

bool TypeFromName(const std::string& name, DWORD& type) {
  for (const auto& t : kTypes) {
    if (strcasecmp(name.c_str(), t.name) == 0) {
      type = t.type;
      return true;
    }
  }
  return false;
}

LONG ReadValue(HKEY key, const std::string& name, DWORD& type, std::string& bytes) {
  for (;;) {
    DWORD size = 0;
    LONG err = RegQueryValueEx(key, name, &type, nullptr, &size);
    if (err != ERROR_SUCCESS) return err;
    bytes.assign(size, '\0');
    err = RegQueryValueEx(key, name, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
    if (err == ERROR_MORE_DATA) continue;  // changed meanwhile
    if (err == ERROR_SUCCESS) bytes.resize(size);
    return err;
  }
}
