// The acknowledgement log's settings: machine-wide registry values under
// HKEY_LOCAL_MACHINE\SOFTWARE\Quillan\Veltro QRX OPC AE\Acknowledgment Log.
//
// Nothing is kept in memory: every getter reads the registry and every
// setter writes it at once. Getters never fail: a missing key or value, or
// any read error, gives the default. Setters create the key when needed and
// write one value; those that return a code return the registry's Win32
// error code (0 on success), and on failure the value is left unchanged.
// Any thread may call any function.
//
// Encodings: texts are REG_SZ stored with their terminating null and read
// up to the first null; numbers are REG_DWORD read into 4 bytes whatever
// the stored type; dates are REG_SZ "%Y-%m-%d" read with ParseDateTime (an
// empty or unparsable text gives the default); the custom areas are a
// REG_MULTI_SZ list, read up to its first empty string.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "acklog/date_time.h"
#include "platform/clock.h"
#include "platform/com.h"

inline constexpr const char* kAckLogKey = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Acknowledgment Log";

// The program's folder followed by "AlarmLog" (computed, never stored).
std::string DefaultLocalPath();

// "Local Path": cache files and daily backups. Default: DefaultLocalPath(),
// also for a stored empty text.
std::string GetLocalPath();
LONG SetLocalPath(const std::string& path);
// "Remote Path": the daily files; empty (the default) means no remote copy.
std::string GetRemotePath();
LONG SetRemotePath(const std::string& path);

// "EnableACKLogging": any nonzero value enables; default off; written 0/1.
bool IsLoggingEnabled();
LONG SetLoggingEnabled(bool enabled);

// "Filter Display Location": 0 remote, 1 local, 2 custom folder (default 0).
int32_t GetFilterDisplayLocation();
LONG SetFilterDisplayLocation(DWORD location);
// "Filter Display Range": 0 today, 1 all, 2 the From/To range (default 0).
int32_t GetFilterDisplayRange();
LONG SetFilterDisplayRange(DWORD range);
// "Filter Display Area": 0 all areas, 1 the custom list (default 0).
int32_t GetFilterDisplayArea();
LONG SetFilterDisplayArea(DWORD mode);
// "Filter Custom Path": the viewer's custom folder (default empty).
std::string GetFilterCustomPath();
LONG SetFilterCustomPath(const std::string& path);

// "Filter From Date", "Filter To Date": dates only. Default: today's date
// in UTC by `clock`. The setters store the date part ("" for a null date).
CDateTime GetFilterFromDate(const ae::Clock& clock = ae::Clock::System());
void SetFilterFromDate(const CDateTime& date);
CDateTime GetFilterToDate(const ae::Clock& clock = ae::Clock::System());
void SetFilterToDate(const CDateTime& date);

// "Filter Custom Areas": adds the stored areas to `areas` (default: none).
void GetFilterCustomAreas(std::set<std::string>& areas);
// Stores `areas` in set order. Empty names are left out (the list format
// ends at an empty string); an empty set is stored as two null characters.
LONG SetFilterCustomAreas(const std::set<std::string>& areas);
