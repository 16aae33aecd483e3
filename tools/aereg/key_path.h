// Key names as aereg takes them ("HKLM\SOFTWARE\...") and value helpers
// shared by its commands.
#pragma once

#include <string>

#include "platform/registry.h"

struct KeyPath {
  HKEY root = nullptr;
  std::string rootName;  // the long name: HKEY_LOCAL_MACHINE
  std::string subKey;    // as given, without leading or trailing "\"

  // The full name as reg.exe prints it.
  std::string Display() const { return subKey.empty() ? rootName : rootName + "\\" + subKey; }
  KeyPath Child(const std::string& name) const;
};

// Accepts HKLM, HKCU, HKCR and their long names, any case. False for
// anything else.
bool ParseKeyPath(const std::string& text, KeyPath& path);

// REG_SZ and the other type names; false for an unknown name.
std::string TypeName(DWORD type);
bool TypeFromName(const std::string& name, DWORD& type);

// A value in its Windows form (strings with their NULs).
LONG ReadValue(HKEY key, const std::string& name, DWORD& type, std::string& bytes);
