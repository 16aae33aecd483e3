// RecordingEventSink: an OPC AE client's event sink (IOPCEventSink and
// IOPCShutdown) that records every OnEvent call, its events and the
// shutdown requests, for tests to wait on and look at.
//
// Contract: heap-allocated and reference counted (Make). The toolkit's
// delivery threads call in while tests read: every member is thread-safe.
// The waits give up after a generous 20 s; predicates of WaitUntil run
// under the sink's lock, after each delivery.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "toolkit/opcae.h"

class RecordingEventSink final : public IOPCEventSink, public IOPCShutdown {
 public:
  // One OnEvent call.
  struct Call {
    BOOL refresh;
    BOOL lastRefresh;
    DWORD count;
    OPCHANDLE handle;
  };

  static ComPtr<RecordingEventSink> Make() { return ComPtr<RecordingEventSink>::Attach(new RecordingEventSink()); }

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

  HRESULT OnEvent(OPCHANDLE handle, BOOL refresh, BOOL lastRefresh, DWORD count,
                  const ONEVENTSTRUCT* events) override {
    std::function<void(const ONEVENTSTRUCT&)> hook;
    {
      std::lock_guard lock(mutex_);
      calls_.push_back({refresh, lastRefresh, count, handle});
      events_.insert(events_.end(), events, events + count);
      hook = hook_;
    }
    if (hook) {
      for (DWORD i = 0; i < count; ++i) hook(events[i]);
    }
    cv_.notify_all();
    return S_OK;
  }
  HRESULT ShutdownRequest(const std::string& reason) override {
    {
      std::lock_guard lock(mutex_);
      shutdownReasons_.push_back(reason);
    }
    cv_.notify_all();
    return S_OK;
  }

  // Runs on the delivery thread for every event received, outside the lock.
  void SetHook(std::function<void(const ONEVENTSTRUCT&)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }

  // Until `done` holds; false when the bound passed first.
  bool WaitUntil(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(20), done);
  }
  // Until `count` events arrived.
  bool WaitForEvents(size_t count) {
    return WaitUntil([&] { return events_.size() >= count; });
  }
  // Until events of `count` different sources arrived.
  bool WaitForSources(size_t count) {
    return WaitUntil([&] {
      std::set<std::string> sources;
      for (const ONEVENTSTRUCT& e : events_) sources.insert(e.szSource);
      return sources.size() >= count;
    });
  }
  // Until an event of `source` for which `match` holds arrived after the
  // first `from` events; true with the latest such event in `out`.
  bool WaitFor(const std::string& source, const std::function<bool(const ONEVENTSTRUCT&)>& match,
               ONEVENTSTRUCT& out, size_t from = 0) {
    return WaitUntil([&] {
      for (size_t i = events_.size(); i > from; --i) {
        const ONEVENTSTRUCT& e = events_[i - 1];
        if (e.szSource == source && match(e)) {
          out = e;
          return true;
        }
      }
      return false;
    });
  }

  std::vector<ONEVENTSTRUCT> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // For WaitUntil predicates, which run under the sink's lock.
  const std::vector<ONEVENTSTRUCT>& EventsUnlocked() const { return events_; }
  const std::vector<Call>& CallsUnlocked() const { return calls_; }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::string> ShutdownReasons() {
    std::lock_guard lock(mutex_);
    return shutdownReasons_;
  }
  // Forgets the calls and events so far (not the shutdown requests).
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
    calls_.clear();
  }

 private:
  RecordingEventSink() = default;
  ~RecordingEventSink() = default;

  ComRefCount refs_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Call> calls_;
  std::vector<ONEVENTSTRUCT> events_;
  std::vector<std::string> shutdownReasons_;
  std::function<void(const ONEVENTSTRUCT&)> hook_;
};
