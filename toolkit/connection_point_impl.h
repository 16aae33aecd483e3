// A connection point for the outgoing interface Sink, living inside its
// owner object (event server: IOPCShutdown; subscription: IOPCEventSink).
//
// Contract: AddRef/Release forward to the owner, so a client holding the
// point keeps the owner alive. Advise queries the sink for Sink's IID
// (CONNECT_E_CANNOTCONNECT when it lacks it), accepts up to maxSinks sinks
// (CONNECT_E_ADVISELIMIT beyond) and returns a nonzero cookie; Unadvise of
// an unknown cookie is CONNECT_E_NOCONNECTION. EnumConnections lists the
// sinks advised at the call, in the order they were advised. Sinks are
// released outside the point's lock. `advised`, when given, runs after each
// successful Advise, outside the lock (the owner's delivery may have become
// due). Thread-safe.
#pragma once

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/connection_point.h"
#include "toolkit/enumerator.h"

template <class Sink>
class CAEConnectionPoint final : public IConnectionPoint {
 public:
  CAEConnectionPoint(IUnknown& owner, IConnectionPointContainer& container, const IID& iid,
                     size_t maxSinks, std::function<void()> advised = {})
      : owner_(owner), container_(container), iid_(iid), maxSinks_(maxSinks), advised_(std::move(advised)) {}
  CAEConnectionPoint(const CAEConnectionPoint&) = delete;
  CAEConnectionPoint& operator=(const CAEConnectionPoint&) = delete;

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
      *object = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return owner_.AddRef(); }
  ULONG Release() override { return owner_.Release(); }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (!container) return E_POINTER;
    container_.AddRef();
    *container = &container_;
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<Sink> typed;
    if (FAILED(sink->QueryInterface(iid_, typed.PutVoid())) || !typed) return CONNECT_E_CANNOTCONNECT;
    {
      std::lock_guard lock(mutex_);
      if (sinks_.size() >= maxSinks_) return CONNECT_E_ADVISELIMIT;
      *cookie = nextCookie_++;
      sinks_.emplace_back(*cookie, std::move(typed));
    }
    if (advised_) advised_();
    return S_OK;
  }
  HRESULT Unadvise(DWORD cookie) override {
    ComPtr<Sink> gone;
    std::lock_guard lock(mutex_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->first == cookie) {
        gone = std::move(it->second);
        sinks_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  HRESULT EnumConnections(IEnumConnections** enumerator) override {
    if (!enumerator) return E_POINTER;
    std::vector<CONNECTDATA> connections;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [cookie, sink] : sinks_) {
        IUnknown* object = sink.Get();
        object->AddRef();  // handed over to the enumerator
        connections.push_back({object, cookie});
      }
    }
    return CAEEnumConnections::Create(std::move(connections), enumerator);
  }

  // The sink advised with `cookie` (empty when none).
  ComPtr<Sink> Find(DWORD cookie) const {
    std::lock_guard lock(mutex_);
    for (const auto& [c, s] : sinks_) {
      if (c == cookie) return s;
    }
    return {};
  }
  // The first sink and its cookie (empty when none).
  ComPtr<Sink> First(DWORD* cookie = nullptr) const {
    std::lock_guard lock(mutex_);
    if (sinks_.empty()) return {};
    if (cookie) *cookie = sinks_.front().first;
    return sinks_.front().second;
  }
  std::vector<ComPtr<Sink>> All() const {
    std::lock_guard lock(mutex_);
    std::vector<ComPtr<Sink>> all;
    for (const auto& entry : sinks_) all.push_back(entry.second);
    return all;
  }
  // Drops every sink (when the owner closes); they are released on return.
  void Clear() {
    std::vector<std::pair<DWORD, ComPtr<Sink>>> gone;
    std::lock_guard lock(mutex_);
    gone.swap(sinks_);
  }

 private:
  IUnknown& owner_;
  IConnectionPointContainer& container_;
  const IID iid_;
  const size_t maxSinks_;
  const std::function<void()> advised_;
  mutable std::mutex mutex_;
  DWORD nextCookie_ = 1;
  std::vector<std::pair<DWORD, ComPtr<Sink>>> sinks_;
};
