// Shared helpers of the server callback tests: a main window that records
// what it is asked, the string table, the acknowledgement log's folder and
// records, and the registration of the ProgID that TranslateToItemIDs hands
// out. Clients record events with the sink of tests/support.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "acklog/ack_log_settings.h"
#include "acklog/log_reader.h"
#include "alarmconfig/resource_string_table.h"
#include "callback/lum_ae_server_callback.h"
#include "callback/main_window_link.h"
#include "platform/registry.h"
#include "tests/support/event_sink.h"

// {3A9B5C21-7E4D-4F08-B6A1-C2D3E4F50617}: what the tests register for kItemIdClassProgId.
constexpr CLSID kItemIdClsid{0x3A9B5C21, 0x7E4D, 0x4F08, {0xB6, 0xA1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17}};

inline void RegisterItemIdClass() {
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, std::string(kItemIdClassProgId) + "\\CLSID", "",
                         GuidToString(kItemIdClsid)),
            ERROR_SUCCESS);
}

// The string table of resources/strings.xml for this process.
inline void InstallStrings() {
  CResourceStringTable strings;
  std::string error;
  ASSERT_TRUE(strings.Load(AE_STRINGS_XML, &error)) << error;
  strings.Install();
}

// A fresh local log folder in the test's temporary folder, logging on or off.
inline std::string UseLogFolder(bool loggingEnabled) {
  std::string folder = std::filesystem::temp_directory_path().string() + "/acklog";
  std::filesystem::create_directories(folder);
  EXPECT_EQ(SetLocalPath(folder), ERROR_SUCCESS);
  EXPECT_EQ(SetLoggingEnabled(loggingEnabled), ERROR_SUCCESS);
  return folder;
}

// Every record of the log files of `folder`.
inline std::vector<AckRecord> LogRecords(const std::string& folder) {
  std::vector<AckRecord> records;
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  ReadLogRecords(folder, LogFilter{}, records, *progress.Get());
  return records;
}

// A main window that counts close messages; `onClose` runs inside
// PostCloseMessage.
class RecordingWindow : public CMainWindowLink {
 public:
  bool Exists() override { return exists.load(); }
  void PostCloseMessage() override {
    if (onClose) onClose();
    ++closeMessages;
  }

  std::atomic<bool> exists{true};
  std::atomic<int> closeMessages{0};
  std::function<void()> onClose;
};
