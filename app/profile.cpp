#include "app/profile.h"

#include "platform/registry.h"

CProfile::CProfile(const std::string& registryKey, const std::string& appName)
    : root_("Software\\" + registryKey + "\\" + appName) {}

int CProfile::GetInt(const std::string& section, const std::string& entry, int defaultValue) const {
  DWORD value = 0;
  if (RegGetDword(HKEY_CURRENT_USER, root_ + "\\" + section, entry, value) != ERROR_SUCCESS) return defaultValue;
  return static_cast<int>(value);
}

bool CProfile::WriteInt(const std::string& section, const std::string& entry, int value) const {
  return RegSetDword(HKEY_CURRENT_USER, root_ + "\\" + section, entry, static_cast<DWORD>(value)) == ERROR_SUCCESS;
}

std::string CProfile::GetString(const std::string& section, const std::string& entry,
                                const std::string& defaultValue) const {
  std::string value;
  if (RegGetString(HKEY_CURRENT_USER, root_ + "\\" + section, entry, value) != ERROR_SUCCESS) return defaultValue;
  return value;
}

bool CProfile::WriteString(const std::string& section, const std::string& entry, const std::string& value) const {
  return RegSetString(HKEY_CURRENT_USER, root_ + "\\" + section, entry, value) == ERROR_SUCCESS;
}
