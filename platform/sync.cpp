#include "platform/sync.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace ae {

// A waiter registers with each event it waits on. Whoever releases it
// (a Set, or its own time-out) claims it under its mutex; the claim is final,
// so an auto-reset event is handed to exactly one waiter and never lost.
// Lock order: an event's mutex, then a waiter's.
struct EventWaiter {
  std::mutex mutex;
  std::condition_variable wake;
  DWORD result = WAIT_FAILED;  // WAIT_FAILED while unclaimed
  bool claimed = false;

  // Claims the waiter for `value`; false when already claimed.
  bool Claim(DWORD value) {
    std::lock_guard lock(mutex);
    if (claimed) return false;
    claimed = true;
    result = value;
    wake.notify_one();
    return true;
  }
};

Event::Event(ResetMode mode, bool initiallySet)
    : autoReset_(mode == kAutoReset), signalled_(initiallySet) {}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(mutex_);
  if (autoReset_) {
    // Hand the signal to the oldest waiter still waiting; stale
    // registrations (waiters released by another event) go on the way.
    while (!waiters_.empty()) {
      Registration r = waiters_.front();
      waiters_.erase(waiters_.begin());
      if (r.waiter->Claim(WAIT_OBJECT_0 + r.index)) return;
    }
    signalled_ = true;
    return;
  }
  signalled_ = true;
  for (const Registration& r : waiters_) r.waiter->Claim(WAIT_OBJECT_0 + r.index);
  waiters_.clear();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::Wait(DWORD timeoutMs) { return WaitAny({this}, timeoutMs) == WAIT_OBJECT_0; }

bool Event::IsSet() const {
  std::lock_guard lock(mutex_);
  return signalled_;
}

DWORD WaitAny(const std::vector<Event*>& events, DWORD timeoutMs) {
  if (events.empty() || std::find(events.begin(), events.end(), nullptr) != events.end())
    return WAIT_FAILED;

  EventWaiter waiter;
  // Check and register in index order, so the lowest signalled index wins;
  // a Set on an event already registered may claim the waiter meanwhile.
  size_t registered = 0;
  for (; registered < events.size(); ++registered) {
    Event* e = events[registered];
    std::lock_guard lock(e->mutex_);
    if (e->signalled_) {
      if (waiter.Claim(WAIT_OBJECT_0 + DWORD(registered)) && e->autoReset_) e->signalled_ = false;
      break;
    }
    e->waiters_.push_back({&waiter, DWORD(registered)});
    std::lock_guard own(waiter.mutex);
    if (waiter.claimed) {
      ++registered;
      break;
    }
  }

  {
    std::unique_lock lock(waiter.mutex);
    auto released = [&] { return waiter.claimed; };
    if (timeoutMs == INFINITE) {
      waiter.wake.wait(lock, released);
    } else if (!waiter.wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), released)) {
      waiter.claimed = true;
      waiter.result = WAIT_TIMEOUT;
    }
  }

  // Unregister; once done no Set can touch the waiter any more.
  for (size_t i = 0; i < registered; ++i) {
    Event* e = events[i];
    std::lock_guard lock(e->mutex_);
    std::erase_if(e->waiters_, [&](const Event::Registration& r) { return r.waiter == &waiter; });
  }
  return waiter.result;
}

DWORD WaitAny(std::initializer_list<Event*> events, DWORD timeoutMs) {
  return WaitAny(std::vector<Event*>(events), timeoutMs);
}

}  // namespace ae
