#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(Event, ManualResetStaysSetForEveryWaiter) {
  ae::Event e(ae::Event::kManualReset);
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.IsSet());
  e.Reset();
  EXPECT_FALSE(e.Wait(0));

  ae::Event initially(ae::Event::kManualReset, true);
  EXPECT_TRUE(initially.Wait(0));
}

TEST(Event, AutoResetIsConsumedByOneWait) {
  ae::Event e(ae::Event::kAutoReset, true);
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  e.Set();  // not counted: still one release
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitTimesOutAfterItsTime) {
  ae::Event e;
  auto start = steady_clock::now();
  EXPECT_FALSE(e.Wait(30));
  EXPECT_GE(steady_clock::now() - start, milliseconds(30));
  EXPECT_EQ(ae::WaitAny({&e}, 10), WAIT_TIMEOUT);
}

TEST(Event, AutoResetReleasesExactlyOneWaiterPerSet) {
  ae::Event e;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (e.Wait(INFINITE)) ++released;
    });
  for (int set = 1; set <= 4; ++set) {
    e.Set();
    auto deadline = steady_clock::now() + milliseconds(2000);
    while (released < set && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    // A spare set of the same event would release a second waiter here.
    std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(released, set);
  }
  for (std::thread& t : waiters) t.join();
  EXPECT_FALSE(e.IsSet());
}

TEST(Event, ManualResetReleasesAllWaiters) {
  ae::Event e(ae::Event::kManualReset);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (ae::WaitAny({&e}, 5000) == WAIT_OBJECT_0) ++released;
    });
  std::this_thread::sleep_for(milliseconds(10));
  e.Set();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(released, 4);
}

TEST(WaitAny, ReturnsTheLowestSignalledIndex) {
  ae::Event stop(ae::Event::kManualReset), work, more;
  EXPECT_EQ(ae::WaitAny({&stop, &work, &more}, 0), WAIT_TIMEOUT);
  more.Set();
  work.Set();
  EXPECT_EQ(ae::WaitAny({&stop, &work, &more}, 0), WAIT_OBJECT_0 + 1);
  EXPECT_FALSE(work.IsSet()) << "consumed";
  EXPECT_TRUE(more.IsSet()) << "untouched";
  EXPECT_EQ(ae::WaitAny({&stop, &work, &more}, 0), WAIT_OBJECT_0 + 2);
  stop.Set();
  more.Set();
  EXPECT_EQ(ae::WaitAny({&stop, &work, &more}, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(stop.IsSet());
  EXPECT_TRUE(more.IsSet());

  EXPECT_EQ(ae::WaitAny(std::vector<ae::Event*>{}, 0), WAIT_FAILED);
  EXPECT_EQ(ae::WaitAny({&work, nullptr}, 0), WAIT_FAILED);
}

TEST(WaitAny, WakesOnALaterSetWithItsIndex) {
  ae::Event stop(ae::Event::kManualReset), work;
  DWORD result = WAIT_FAILED;
  std::thread waiter([&] { result = ae::WaitAny({&stop, &work}, 5000); });
  std::this_thread::sleep_for(milliseconds(10));
  work.Set();
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
  EXPECT_FALSE(work.IsSet());
}

TEST(WaitAny, AutoResetSetGoesToOneOfSeveralWaiters) {
  // Two threads in WaitAny and one in Wait on the same auto-reset event:
  // each Set releases exactly one of them, none is lost.
  ae::Event shared, stop(ae::Event::kManualReset);
  std::atomic<int> byShared{0}, byStop{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i)
    threads.emplace_back([&] {
      DWORD r = ae::WaitAny({&stop, &shared}, 5000);
      (r == WAIT_OBJECT_0 + 1 ? byShared : byStop)++;
    });
  threads.emplace_back([&] { (shared.Wait(5000) ? byShared : byStop)++; });
  std::this_thread::sleep_for(milliseconds(10));
  shared.Set();
  shared.Set();
  auto deadline = steady_clock::now() + milliseconds(2000);
  while (byShared < 2 && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
  std::this_thread::sleep_for(milliseconds(5));
  EXPECT_EQ(byShared, 2);
  shared.Set();  // the last one, whichever kind of wait it is in
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(byShared, 3);
  EXPECT_EQ(byStop, 0);
  EXPECT_FALSE(shared.IsSet());
}

TEST(WaitAny, NoSignalIsLostUnderLoad) {
  // A producer sets an auto-reset event after each item; a consumer drains
  // with WaitAny next to a stop event. Every item is seen.
  ae::Event ready, stop(ae::Event::kManualReset);
  std::atomic<int> produced{0}, consumed{0};
  constexpr int kItems = 2000;
  std::thread consumer([&] {
    for (;;) {
      DWORD r = ae::WaitAny({&stop, &ready}, 5000);
      if (r != WAIT_OBJECT_0 + 1) break;
      consumed = produced.load();
      if (consumed == kItems) break;
    }
  });
  for (int i = 0; i < kItems; ++i) {
    ++produced;
    ready.Set();
  }
  consumer.join();
  EXPECT_EQ(consumed, kItems);
}

}  // namespace
