// The road of condition events: Publish (on the thread that changed a
// condition, under its source's lock) builds the event once and offers it
// to every registered subscription; the delivery thread calls the sinks
// with no toolkit lock held, and rolls the statistics' sample period on its
// timed wait.
//
// Contract: Publish never runs client code and never blocks on a client.
// Start/Stop are idempotent and come from one controlling thread
// (Initialize/Uninitialize). Stop waits up to its time limit for the
// delivery thread to end; a thread held longer by a sink that does not
// return is reported through DebugOutput and left to end by itself (it
// delivers nothing more, and a later Start's thread waits for it).
// Register/Unregister/Wake may come from any thread, including from a sink
// running on the delivery thread. Due times are the engine clock's steady
// milliseconds; whoever moves a hand-driven clock calls Wake.
#pragma once

#include <atomic>
#include <cstdint>
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
  // "Nothing due" for the passes and Deliver.
  static constexpr uint64_t kNever = UINT64_MAX;

  CAEEventDispatcher();
  ~CAEEventDispatcher();
  CAEEventDispatcher(const CAEEventDispatcher&) = delete;
  CAEEventDispatcher& operator=(const CAEEventDispatcher&) = delete;

  static constexpr DWORD kStopTimeoutMs = 5000;

  void Start();
  void Stop(DWORD timeoutMs = kStopTimeoutMs);

  void Register(std::shared_ptr<CAESubscription> subscription);
  void Unregister(const CAESubscription* subscription);

  // REQUIRES: the condition's source lock is held.
  void Publish(const CAECondition& condition, WORD changeMask);

  // Something became due (an event queued, a refresh ready, a period
  // changed, the clock moved).
  void Wake();

 private:
  using List = std::vector<std::shared_ptr<CAESubscription>>;
  // The longest single wait of the delivery thread.
  static constexpr uint64_t kMaxWaitMs = 60'000;

  std::shared_ptr<const List> Subscriptions() const;
  void Run(uint64_t generation);
  // One pass: statistics and every subscription; returns when the next is due.
  uint64_t Pass();

  mutable std::mutex listMutex_;
  std::shared_ptr<const List> list_;  // replaced, never changed in place

  std::mutex wakeMutex_;  // guards the four members after wakePending_
  std::condition_variable wakeCv_;
  std::atomic<bool> wakePending_{false};
  bool stop_ = false;
  uint64_t generation_ = 0;  // of the thread that should run
  uint64_t ended_ = 0;       // generation of the last thread that ended
  std::thread thread_;
  std::condition_variable endedCv_;
  // Held through each pass, so that only one thread ever delivers.
  std::mutex passMutex_;
};
