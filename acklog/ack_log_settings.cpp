#include "acklog/ack_log_settings.h"

#include <cstring>
#include <vector>

#include "platform/path_text.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace {

constexpr const char* kLocalPath = "Local Path";
constexpr const char* kRemotePath = "Remote Path";
constexpr const char* kEnableLogging = "EnableACKLogging";
constexpr const char* kDisplayLocation = "Filter Display Location";
constexpr const char* kDisplayRange = "Filter Display Range";
constexpr const char* kDisplayArea = "Filter Display Area";
constexpr const char* kCustomPath = "Filter Custom Path";
constexpr const char* kFromDate = "Filter From Date";
constexpr const char* kToDate = "Filter To Date";
constexpr const char* kCustomAreas = "Filter Custom Areas";
constexpr const char* kDateFormat = "%Y-%m-%d";
constexpr DWORD kFirstReadBytes = 520;

// The raw bytes of a value: a first read into 520 bytes, a second with the
// size the registry asks for. False when the key or value cannot be read.
bool ReadBytes(const char* name, REGSAM access, std::vector<BYTE>& data) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAckLogKey, access, &key) != ERROR_SUCCESS) return false;
  data.assign(kFirstReadBytes, 0);
  DWORD size = kFirstReadBytes;
  LONG rc = RegQueryValueEx(key, name, nullptr, data.data(), &size);
  if (rc == ERROR_MORE_DATA) {
    data.assign(size, 0);
    rc = RegQueryValueEx(key, name, nullptr, data.data(), &size);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return false;
  data.resize(size);
  return true;
}

std::string ReadText(const char* name) {
  std::vector<BYTE> data;
  if (!ReadBytes(name, KEY_READ, data)) return {};
  const char* text = reinterpret_cast<const char*>(data.data());
  return std::string(text, strnlen(text, data.size()));
}

int32_t ReadNumber(const char* name, REGSAM access = KEY_READ) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAckLogKey, access, &key) != ERROR_SUCCESS) return 0;
  DWORD value = 0, size = sizeof value;
  LONG rc = RegQueryValueEx(key, name, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? int32_t(value) : 0;
}

LONG WriteValue(const char* name, DWORD type, const BYTE* data, DWORD size) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyEx(HKEY_LOCAL_MACHINE, kAckLogKey, KEY_ALL_ACCESS, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueEx(key, name, type, data, size);
  RegCloseKey(key);
  return rc;
}

LONG WriteText(const char* name, const std::string& text) {
  return WriteValue(name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

LONG WriteNumber(const char* name, DWORD value) {
  return WriteValue(name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

CDateTime ReadDate(const char* name, const ae::Clock& clock) {
  CDateTime date = CDateTime::FromFileTime(clock.NowUtc()).DatePart();
  std::string text = ReadText(name);
  if (!text.empty()) ParseDateTime(text, kDateFormat, date);
  return date;
}

}  // namespace

std::string DefaultLocalPath() {
  std::string program = GetProgramPath();
  size_t slash = program.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash);
  return EnsureTrailingBackslash(folder) + "AlarmLog";
}

std::string GetLocalPath() {
  std::string path = ReadText(kLocalPath);
  return path.empty() ? DefaultLocalPath() : path;
}
LONG SetLocalPath(const std::string& path) { return WriteText(kLocalPath, path); }

std::string GetRemotePath() { return ReadText(kRemotePath); }
LONG SetRemotePath(const std::string& path) { return WriteText(kRemotePath, path); }

bool IsLoggingEnabled() { return ReadNumber(kEnableLogging, KEY_QUERY_VALUE) != 0; }
LONG SetLoggingEnabled(bool enabled) { return WriteNumber(kEnableLogging, enabled ? 1 : 0); }

int32_t GetFilterDisplayLocation() { return ReadNumber(kDisplayLocation); }
LONG SetFilterDisplayLocation(DWORD location) { return WriteNumber(kDisplayLocation, location); }
int32_t GetFilterDisplayRange() { return ReadNumber(kDisplayRange); }
LONG SetFilterDisplayRange(DWORD range) { return WriteNumber(kDisplayRange, range); }
int32_t GetFilterDisplayArea() { return ReadNumber(kDisplayArea); }
LONG SetFilterDisplayArea(DWORD mode) { return WriteNumber(kDisplayArea, mode); }

std::string GetFilterCustomPath() { return ReadText(kCustomPath); }
LONG SetFilterCustomPath(const std::string& path) { return WriteText(kCustomPath, path); }

CDateTime GetFilterFromDate(const ae::Clock& clock) { return ReadDate(kFromDate, clock); }
void SetFilterFromDate(const CDateTime& date) { WriteText(kFromDate, date.Format(false)); }
CDateTime GetFilterToDate(const ae::Clock& clock) { return ReadDate(kToDate, clock); }
void SetFilterToDate(const CDateTime& date) { WriteText(kToDate, date.Format(false)); }

void GetFilterCustomAreas(std::set<std::string>& areas) {
  std::vector<BYTE> data;
  if (!ReadBytes(kCustomAreas, KEY_READ, data)) return;
  const char* p = reinterpret_cast<const char*>(data.data());
  const char* end = p + data.size();
  while (p < end) {
    size_t length = strnlen(p, size_t(end - p));
    if (length == 0) break;
    areas.insert(std::string(p, length));
    p += length + 1;
  }
}

LONG SetFilterCustomAreas(const std::set<std::string>& areas) {
  std::string list;
  for (const std::string& area : areas)
    if (!area.empty()) list.append(area).push_back('\0');
  list.push_back('\0');
  if (list.size() == 1) list.push_back('\0');
  return WriteValue(kCustomAreas, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()), DWORD(list.size()));
}
