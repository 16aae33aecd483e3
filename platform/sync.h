// Events and WaitForMultipleObjects for worker threads.
//
// Contract: an Event is manual-reset (stays signalled until Reset, releasing
// every waiter) or auto-reset (each Set releases exactly one waiter, in
// Wait or WaitAny, and the event is then unsignalled again; with nobody
// waiting it stays signalled until one waiter takes it). Waits block on
// condition variables, never by polling. All members are thread-safe.
// REQUIRES: no thread waits on an Event while it is destroyed.
//
// Event and WaitAny live in namespace ae (generic names that other
// libraries' headers use too); the Win32 constants stay global.
#pragma once

#include <initializer_list>
#include <mutex>
#include <vector>

#include "platform/com.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

namespace ae {

struct EventWaiter;

class Event {
 public:
  enum ResetMode { kAutoReset, kManualReset };

  explicit Event(ResetMode mode = kAutoReset, bool initiallySet = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event();

  void Set();
  void Reset();
  // True when the event was (or became) signalled within timeoutMs
  // (INFINITE: no limit); an auto-reset event is consumed by the wait.
  bool Wait(DWORD timeoutMs = INFINITE);
  // The state without waiting or consuming it (for tests and assertions).
  bool IsSet() const;

 private:
  friend DWORD WaitAny(const std::vector<Event*>& events, DWORD timeoutMs);

  const bool autoReset_;
  mutable std::mutex mutex_;
  bool signalled_;
  struct Registration {
    EventWaiter* waiter;
    DWORD index;
  };
  std::vector<Registration> waiters_;  // oldest first
};

// Waits until one of the events is signalled. Returns WAIT_OBJECT_0 + index
// of the event that released the waiter (of those already signalled on
// entry, the lowest index), WAIT_TIMEOUT when timeoutMs passes first, and
// WAIT_FAILED for an empty list or a null event.
DWORD WaitAny(const std::vector<Event*>& events, DWORD timeoutMs);
DWORD WaitAny(std::initializer_list<Event*> events, DWORD timeoutMs);

}  // namespace ae
