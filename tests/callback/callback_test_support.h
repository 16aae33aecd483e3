// Shared helpers of the server callback tests: a main window that records
// what it is asked, a client sink that records events and shutdown
// requests, the string table, the acknowledgement log's folder and records,
// and the registration of the ProgID that TranslateToItemIDs hands out.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "acklog/ack_log_settings.h"
#include "acklog/log_reader.h"
#include "alarmconfig/resource_string_table.h"
#include "callback/lum_ae_server_callback.h"
#include "callback/main_window_link.h"
#include "platform/registry.h"
#include "toolkit/opcae.h"

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

// Records events and shutdown requests. Heap-allocated, reference counted.
class RecordingSink final : public IOPCEventSink, public IOPCShutdown {
 public:
  static ComPtr<RecordingSink> Make() { return ComPtr<RecordingSink>::Attach(new RecordingSink()); }

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IOPCEventSink) {
      *object = static_cast<IOPCEventSink*>(this);
    } else if (iid == IID_IOPCShutdown) {
      *object = static_cast<IOPCShutdown*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count, const ONEVENTSTRUCT* events) override {
    {
      std::lock_guard lock(mutex_);
      events_.insert(events_.end(), events, events + count);
    }
    cv_.notify_all();
    return S_OK;
  }
  HRESULT ShutdownRequest(const std::string& reason) override {
    std::lock_guard lock(mutex_);
    shutdownReasons_.push_back(reason);
    return S_OK;
  }

  // The latest event of `source` for which `match` holds, waiting up to
  // 10 s; false when none came.
  bool WaitForEvent(const std::string& source, const std::function<bool(const ONEVENTSTRUCT&)>& match,
                    ONEVENTSTRUCT& out) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        if (it->szSource == source && match(*it)) {
          out = *it;
          return true;
        }
      }
      return false;
    });
  }
  std::vector<std::string> ShutdownReasons() {
    std::lock_guard lock(mutex_);
    return shutdownReasons_;
  }

 private:
  RecordingSink() = default;
  ~RecordingSink() = default;

  ComRefCount refs_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<ONEVENTSTRUCT> events_;
  std::vector<std::string> shutdownReasons_;
};
