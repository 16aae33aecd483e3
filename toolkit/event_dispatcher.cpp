#include "toolkit/event_dispatcher.h"

#include <algorithm>
#include <chrono>

#include "platform/debug.h"

#include "toolkit/condition.h"
#include "toolkit/engine.h"
#include "toolkit/subscription.h"

CAEEventDispatcher::CAEEventDispatcher() : list_(std::make_shared<const List>()) {}

CAEEventDispatcher::~CAEEventDispatcher() { Stop(); }

void CAEEventDispatcher::Start() {
  std::lock_guard lock(wakeMutex_);
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread(&CAEEventDispatcher::Run, this, ++generation_);
}

void CAEEventDispatcher::Stop(DWORD timeoutMs) {
  std::unique_lock lock(wakeMutex_);
  if (!thread_.joinable()) return;
  stop_ = true;
  uint64_t generation = generation_;
  std::thread thread = std::move(thread_);
  wakeCv_.notify_all();
  // A sink that uninitializes the toolkit from inside OnEvent ends its own thread.
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
    return;
  }
  bool ended = endedCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return ended_ >= generation; });
  lock.unlock();
  if (ended) {
    thread.join();
  } else {
    thread.detach();
    DebugOutput("TolkAEServerU: the delivery thread is held by a client's OnEvent and is left to end by itself\n");
  }
}

void CAEEventDispatcher::Register(std::shared_ptr<CAESubscription> subscription) {
  std::lock_guard lock(listMutex_);
  auto list = std::make_shared<List>(*list_);
  list->push_back(std::move(subscription));
  list_ = std::move(list);
}

void CAEEventDispatcher::Unregister(const CAESubscription* subscription) {
  std::shared_ptr<const List> old;  // the last reference may go here, outside the lock
  std::lock_guard lock(listMutex_);
  auto list = std::make_shared<List>(*list_);
  list->erase(std::remove_if(list->begin(), list->end(), [&](const auto& s) { return s.get() == subscription; }),
              list->end());
  old = std::exchange(list_, std::move(list));
}

std::shared_ptr<const CAEEventDispatcher::List> CAEEventDispatcher::Subscriptions() const {
  std::lock_guard lock(listMutex_);
  return list_;
}

void CAEEventDispatcher::Publish(const CAECondition& condition, WORD changeMask) {
  CAEEngine::Instance().Statistics().CountEvent();
  std::shared_ptr<const List> subscriptions = Subscriptions();
  if (subscriptions->empty()) return;
  // Built once, offered to every subscription; the buffer is reused, except
  // by a publish nested in a server callback.
  thread_local ONEVENTSTRUCT reused;
  thread_local int depth = 0;
  ONEVENTSTRUCT nested;
  ONEVENTSTRUCT& event = depth == 0 ? reused : nested;
  ++depth;
  condition.BuildEvent(changeMask, event);
  for (const auto& s : *subscriptions) s->Offer(event, condition);
  --depth;
}

void CAEEventDispatcher::Wake() {
  if (wakePending_.exchange(true)) return;
  std::lock_guard lock(wakeMutex_);
  wakeCv_.notify_one();
}

void CAEEventDispatcher::Run(uint64_t generation) {
  ae::Clock& clock = CAEEngine::Instance().Clock();
  std::unique_lock lock(wakeMutex_);
  while (!stop_ && generation_ == generation) {
    wakePending_.store(false);
    lock.unlock();
    uint64_t next = Pass();
    uint64_t now = clock.SteadyMs();
    lock.lock();
    uint64_t waitMs = std::min<uint64_t>(next > now ? next - now : 0, kMaxWaitMs);
    wakeCv_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return stop_ || wakePending_.load(); });
  }
  ended_ = std::max(ended_, generation);
  endedCv_.notify_all();
}

uint64_t CAEEventDispatcher::Pass() {
  std::lock_guard pass(passMutex_);
  CAEEngine& engine = CAEEngine::Instance();
  uint64_t now = engine.Clock().SteadyMs();
  uint64_t next = engine.Statistics().Roll(now);
  std::shared_ptr<const List> subscriptions = Subscriptions();  // keeps them alive through Deliver
  for (const auto& s : *subscriptions) next = std::min(next, s->Deliver(now));
  return next;
}
