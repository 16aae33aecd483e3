// The road of condition events: Publish (on the thread that changed a
// condition, under its source's lock) builds the event once and offers it
// to every registered subscription; the delivery thread calls the sinks
// with no toolkit lock held, and rolls the statistics' sample period on its
// timed wait.
//
// Contract: Publish never runs client code and never blocks on a client.
// Start/Stop are idempotent and come from one controlling thread
// (Initialize/Uninitialize); Stop returns after the delivery thread ended.
// Register/Unregister/Wake may come from any thread, including from a sink
// running on the delivery thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com.h"

class CAECondition;
class CAESubscription;

class CAEEventDispatcher {
 public:
  using Clock = std::chrono::steady_clock;

  CAEEventDispatcher();
  ~CAEEventDispatcher();
  CAEEventDispatcher(const CAEEventDispatcher&) = delete;
  CAEEventDispatcher& operator=(const CAEEventDispatcher&) = delete;

  void Start();
  void Stop();

  void Register(std::shared_ptr<CAESubscription> subscription);
  void Unregister(const CAESubscription* subscription);

  // REQUIRES: the condition's source lock is held.
  void Publish(const CAECondition& condition, WORD changeMask);

  // Something became due (an event queued, a refresh ready, a period changed).
  void Wake();

 private:
  using List = std::vector<std::shared_ptr<CAESubscription>>;

  std::shared_ptr<const List> Subscriptions() const;
  void Run();

  mutable std::mutex listMutex_;
  std::shared_ptr<const List> list_;  // replaced, never changed in place

  std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  std::atomic<bool> wakePending_{false};
  bool stop_ = false;  // guarded by wakeMutex_
  std::thread thread_;
};
