// The log's registry settings: defaults, encodings and round trips.
#include <gtest/gtest.h>

#include "acklog/ack_log_settings.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace {

// 2024-05-01 23:30:00 UTC: late enough that a local-time slip would show.
FILETIME Evening() {
  SYSTEMTIME st{2024, 5, 0, 1, 23, 30, 0, 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

TEST(AckLogSettings, DefaultsWithoutKey) {
  ae::ManualClock clock(Evening());
  EXPECT_FALSE(IsLoggingEnabled());
  EXPECT_EQ(GetLocalPath(), GetProgramFolder() + "AlarmLog");
  EXPECT_EQ(DefaultLocalPath(), GetProgramFolder() + "AlarmLog");
  EXPECT_EQ(GetRemotePath(), "");
  EXPECT_EQ(GetFilterDisplayLocation(), 0);
  EXPECT_EQ(GetFilterDisplayRange(), 0);
  EXPECT_EQ(GetFilterDisplayArea(), 0);
  EXPECT_EQ(GetFilterCustomPath(), "");
  EXPECT_EQ(GetFilterFromDate(clock), CDateTime::FromParts(2024, 5, 1));
  EXPECT_EQ(GetFilterToDate(clock), CDateTime::FromParts(2024, 5, 1));
  std::set<std::string> areas;
  GetFilterCustomAreas(areas);
  EXPECT_TRUE(areas.empty());
}

TEST(AckLogSettings, TextsRoundTripWithLastCharacterAndTerminator) {
  ASSERT_EQ(SetLocalPath("/var/log/aeserver"), ERROR_SUCCESS);
  EXPECT_EQ(GetLocalPath(), "/var/log/aeserver");
  DWORD type = 0, size = 0;
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAckLogKey, KEY_READ, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryValueEx(key, "Local Path", &type, nullptr, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, std::string("/var/log/aeserver").size() + 1);

  std::string longPath = "/mnt/" + std::string(700, 'r') + "/end";
  ASSERT_EQ(SetRemotePath(longPath), ERROR_SUCCESS);
  EXPECT_EQ(GetRemotePath(), longPath);
  ASSERT_EQ(SetFilterCustomPath("/srv/üñí"), ERROR_SUCCESS);
  EXPECT_EQ(GetFilterCustomPath(), "/srv/üñí");
  ASSERT_EQ(SetLocalPath(""), ERROR_SUCCESS);
  EXPECT_EQ(GetLocalPath(), DefaultLocalPath());
}

TEST(AckLogSettings, LoggingSwitchAnyNonzeroEnables) {
  ASSERT_EQ(SetLoggingEnabled(true), ERROR_SUCCESS);
  EXPECT_TRUE(IsLoggingEnabled());
  SetLoggingEnabled(!IsLoggingEnabled());
  SetLoggingEnabled(!IsLoggingEnabled());
  EXPECT_TRUE(IsLoggingEnabled());
  RegSetDword(HKEY_LOCAL_MACHINE, kAckLogKey, "EnableACKLogging", 2);
  EXPECT_TRUE(IsLoggingEnabled());
  SetLoggingEnabled(false);
  DWORD stored = 7;
  RegGetDword(HKEY_LOCAL_MACHINE, kAckLogKey, "EnableACKLogging", stored);
  EXPECT_EQ(stored, 0u);
}

TEST(AckLogSettings, FilterModesAreSignedNumbers) {
  ASSERT_EQ(SetFilterDisplayLocation(2), ERROR_SUCCESS);
  ASSERT_EQ(SetFilterDisplayRange(1), ERROR_SUCCESS);
  ASSERT_EQ(SetFilterDisplayArea(0xFFFFFFFF), ERROR_SUCCESS);
  EXPECT_EQ(GetFilterDisplayLocation(), 2);
  EXPECT_EQ(GetFilterDisplayRange(), 1);
  EXPECT_EQ(GetFilterDisplayArea(), -1);
}

TEST(AckLogSettings, DatesStoredAsDaysAndUnparsableTextGivesToday) {
  ae::ManualClock clock(Evening());
  SetFilterFromDate(CDateTime::FromParts(2023, 12, 24, 18, 5, 0));
  std::string stored;
  RegGetString(HKEY_LOCAL_MACHINE, kAckLogKey, "Filter From Date", stored);
  EXPECT_EQ(stored, "2023-12-24");
  EXPECT_EQ(GetFilterFromDate(clock), CDateTime::FromParts(2023, 12, 24));
  RegSetString(HKEY_LOCAL_MACHINE, kAckLogKey, "Filter From Date", "24.12.2023");
  EXPECT_EQ(GetFilterFromDate(clock), CDateTime::FromParts(2024, 5, 1));
  SetFilterToDate(CDateTime());
  EXPECT_EQ(GetFilterToDate(clock), CDateTime::FromParts(2024, 5, 1));
}

TEST(AckLogSettings, CustomAreasKeepSetOrderAndEmptySetIsTwoNulls) {
  ASSERT_EQ(SetFilterCustomAreas({"Zone B", "Area A", "Ünit"}), ERROR_SUCCESS);
  std::vector<std::string> raw;
  RegGetMultiString(HKEY_LOCAL_MACHINE, kAckLogKey, "Filter Custom Areas", raw);
  EXPECT_EQ(raw, (std::vector<std::string>{"Area A", "Zone B", "Ünit"}));
  std::set<std::string> areas = {"kept"};
  GetFilterCustomAreas(areas);
  EXPECT_EQ(areas, (std::set<std::string>{"Area A", "Zone B", "Ünit", "kept"}));

  ASSERT_EQ(SetFilterCustomAreas({}), ERROR_SUCCESS);
  HKEY key;
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAckLogKey, KEY_READ, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryValueEx(key, "Filter Custom Areas", &type, nullptr, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(size, 2u);
  areas.clear();
  GetFilterCustomAreas(areas);
  EXPECT_TRUE(areas.empty());

  // An empty area name would end the list early and lose the rest.
  ASSERT_EQ(SetFilterCustomAreas({"", "Area A"}), ERROR_SUCCESS);
  GetFilterCustomAreas(areas);
  EXPECT_EQ(areas, (std::set<std::string>{"Area A"}));
}

TEST(AckLogSettings, NumberStoredAsTextIsReadAsItsBytes) {
  RegSetString(HKEY_LOCAL_MACHINE, kAckLogKey, "Filter Display Range", "1");
  EXPECT_EQ(GetFilterDisplayRange(), '1');
  RegSetString(HKEY_LOCAL_MACHINE, kAckLogKey, "Filter Display Range", "too long for a number");
  EXPECT_EQ(GetFilterDisplayRange(), 0);
}

}  // namespace
