#include "alarmconfig/tracked_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "alarmconfig/tracked_cache_lock.h"
#include "platform/debug.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

using namespace std::chrono_literals;

namespace {

// Collects the debugger output of the test.
class DebugLines {
 public:
  DebugLines() {
    previous_ = SetDebugOutputSink([this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(text);
    });
  }
  ~DebugLines() { SetDebugOutputSink(previous_); }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> previous_;
};

TEST(TrackedMutex, SlowHolderMakesTheWaiterReportEachSliceThenContinue) {
  DebugLines debug;
  TrackedMutex mutex(100ms);
  std::atomic<bool> held{false};
  int holderLine = 0, waiterLine = 0;

  std::thread holder([&] {
    holderLine = __LINE__ + 1;
    TrackedMutexGuard guard(mutex, AE_SITE);
    held = true;
    std::this_thread::sleep_for(250ms);
  });
  while (!held) std::this_thread::yield();

  {
    waiterLine = __LINE__ + 1;
    TrackedMutexGuard guard(mutex, AE_SITE);
    EXPECT_EQ(mutex.HolderFile(), "tracked_mutex_test.cpp");
    EXPECT_EQ(mutex.HolderLine(), waiterLine);
  }
  holder.join();

  std::string expected = "Potential mutex deadlock at tracked_mutex_test.cpp (" + std::to_string(waiterLine) +
                         "), Mutex locked by tracked_mutex_test.cpp (" + std::to_string(holderLine) + ")\n";
  auto lines = debug.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], expected);
  EXPECT_EQ(lines[1], expected);
  EXPECT_EQ(mutex.HolderFile(), "");
  EXPECT_EQ(mutex.HolderLine(), 0);
}

TEST(TrackedMutex, NestedAcquisitionDoesNotBlockAndEveryGuardClearsTheRecord) {
  TrackedMutex mutex(50ms);
  std::atomic<bool> got{false};
  std::thread other;
  {
    TrackedMutexGuard outer(mutex, AE_SITE);
    int outerLine = __LINE__ - 1;
    EXPECT_EQ(mutex.HolderLine(), outerLine);
    {
      TrackedMutexGuard inner(mutex, AE_SITE);
      EXPECT_EQ(mutex.HolderLine(), __LINE__ - 1);
    }
    // The inner guard cleared the record although the outer scope still holds.
    EXPECT_EQ(mutex.HolderFile(), "");
    EXPECT_EQ(mutex.HolderLine(), 0);

    other = std::thread([&] {
      TrackedMutexGuard g(mutex, AE_SITE);
      got = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(got);  // still held by the outer scope
  }
  other.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(mutex.HolderLine(), 0);
}

TEST(TrackedMutex, AnExceptionLeavingTheScopeReleases) {
  TrackedMutex mutex(50ms);
  try {
    TrackedMutexGuard guard(mutex, AE_SITE);
    throw std::runtime_error("out");
  } catch (const std::runtime_error&) {
  }
  DebugLines debug;
  std::thread other([&] { TrackedMutexGuard g(mutex, AE_SITE); });
  other.join();
  EXPECT_TRUE(debug.Lines().empty());
  EXPECT_EQ(mutex.HolderLine(), 0);
}

TEST(TrackedMutex, HolderFieldsCanBeReadWhileTheyChange) {
  TrackedMutex mutex;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      std::string file = mutex.HolderFile();
      EXPECT_TRUE(file.empty() || file == "tracked_mutex_test.cpp");
      EXPECT_GE(mutex.HolderLine(), 0);
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t)
    writers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) TrackedMutexGuard g(mutex, AE_SITE);
    });
  for (auto& w : writers) w.join();
  stop = true;
  reader.join();
  EXPECT_EQ(mutex.HolderLine(), 0);
}

TEST(TrackedCacheLock, GuardsTheToolkitCacheAndRecordTheHolder) {
  ASSERT_EQ(g_CacheLock.Cache(), &g_SourceCache);
  std::atomic<int> step{0};
  std::thread other;
  {
    TrackedCacheGuard guard(g_CacheLock, AE_SITE);
    int line = __LINE__ - 1;
    EXPECT_EQ(g_CacheLock.HolderLine(), line);
    other = std::thread([&] {
      g_SourceCache.Lock();  // the toolkit's own lock underneath
      step = 1;
      g_SourceCache.Unlock();
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(step, 0);
  }
  EXPECT_EQ(g_CacheLock.HolderFile(), "");
  other.join();
  EXPECT_EQ(step, 1);
}

TEST(TrackedSourceLock, GuardsOneSource) {
  CAESource* source = new CAESource("Area/N1_B1.A", 1);
  {
    TrackedSourceLock record(source);
    TrackedSourceGuard guard(record, AE_SITE);
    EXPECT_EQ(record.HolderLine(), __LINE__ - 1);
    {
      TrackedSourceGuard nested(record, AE_SITE);  // recursive for the owner
    }
    EXPECT_EQ(record.HolderLine(), 0);
  }
  std::thread other([&] {
    TrackedSourceLock record(source);
    TrackedSourceGuard guard(record, AE_SITE);
  });
  other.join();
  source->Release();
}

}  // namespace
