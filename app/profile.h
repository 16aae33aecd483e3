// CProfile: the program's per-user settings, as the window framework's
// profile functions keep them, value by value, under the key
// HKEY_CURRENT_USER\Software\<registry key>\<application name>\<section>.
//
// Contract: reads answer the default when the key or value is missing or
// of another type; writes create the keys and answer false when the store
// refuses. Settings are read when used, nothing is cached. Any thread.
#pragma once

#include <string>

class CProfile {
 public:
  // "Software\<registryKey>\<appName>".
  CProfile(const std::string& registryKey, const std::string& appName);

  int GetInt(const std::string& section, const std::string& entry, int defaultValue) const;
  bool WriteInt(const std::string& section, const std::string& entry, int value) const;
  std::string GetString(const std::string& section, const std::string& entry,
                        const std::string& defaultValue) const;
  bool WriteString(const std::string& section, const std::string& entry, const std::string& value) const;

  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};
