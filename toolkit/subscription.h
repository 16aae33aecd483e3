// The event subscription object of one client (IOPCEventSubscriptionMgt,
// IConnectionPointContainer with one IOPCEventSink): its filter, state,
// returned attributes, the queue of events waiting for delivery and a
// pending refresh.
//
// Contract: created by CAEEventServer::CreateEventSubscription; holds a
// reference to its server until its last client reference goes. The COM
// reference count governs the client's view; the delivery machinery keeps
// the object's memory alive (shared ownership) while it still uses it, so a
// client may release the subscription from inside OnEvent. Events of one
// subscription are delivered in the order they were queued.
// Not built yet: EnumConnectionPoints (E_NOTIMPL) and the 1.10 keep-alive
// of IOPCEventSubscriptionMgt2 (the interface is not offered).
// Locks: the subscription's own lock is taken under a source lock (Offer)
// and never held while a source, the cache or a client is called.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "toolkit/connection_point_impl.h"
#include "toolkit/event_filter.h"
#include "toolkit/opcae.h"

class CAECondition;
class CAEEventServer;

class CAESubscription final : public IOPCEventSubscriptionMgt, public IConnectionPointContainer {
 public:
  using Clock = std::chrono::steady_clock;
  // Events queued beyond this for a client that does not keep up are dropped
  // (and reported through OnInternalError), so a stuck client cannot exhaust
  // the server's memory.
  static constexpr size_t kQueueLimit = 100'000;

  // The new subscription queried for `iid` into *object.
  static HRESULT Create(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                        OPCHANDLE clientSubscription, const IID& iid, IUnknown** object);
  ~CAESubscription();

  // IUnknown
  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IOPCEventSubscriptionMgt
  HRESULT SetFilter(DWORD eventType, DWORD numCategories, const DWORD* eventCategories,
                    DWORD lowSeverity, DWORD highSeverity, DWORD numAreas, const std::string* areas,
                    DWORD numSources, const std::string* sources) override;
  HRESULT GetFilter(DWORD* eventType, std::vector<DWORD>* eventCategories, DWORD* lowSeverity,
                    DWORD* highSeverity, std::vector<std::string>* areas,
                    std::vector<std::string>* sources) override;
  HRESULT SelectReturnedAttributes(DWORD eventCategory, DWORD count, const DWORD* attributeIds) override;
  HRESULT GetReturnedAttributes(DWORD eventCategory, std::vector<DWORD>* attributeIds) override;
  HRESULT Refresh(DWORD connection) override;
  HRESULT CancelRefresh(DWORD connection) override;
  HRESULT GetState(BOOL* active, DWORD* bufferTime, DWORD* maxSize, OPCHANDLE* clientSubscription) override;
  HRESULT SetState(const BOOL* active, const DWORD* bufferTime, const DWORD* maxSize,
                   OPCHANDLE clientSubscription, DWORD* revisedBufferTime, DWORD* revisedMaxSize) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(void** enumerator) override;
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) override;

  // Queues `event` (built from `condition`) when the subscription is active
  // and its filter passes it, with the returned attributes of its category.
  // REQUIRES: the condition's source lock is held.
  void Offer(const ONEVENTSTRUCT& event, const CAECondition& condition);
  // Delivery thread: sends what is due; returns when it next wants to run
  // (time_point::max() when nothing waits).
  Clock::time_point Deliver(Clock::time_point now);

 private:
  CAESubscription(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                  OPCHANDLE clientSubscription);
  // The last client reference went: leave the engine, drop sink and server.
  void Close();
  HRESULT ValidateFilterNames(DWORD numAreas, const std::string* areas, DWORD numSources,
                              const std::string* sources);
  // Fills event.pEventAttributes for its category.
  // REQUIRES: the condition's source lock is held; mutex_ is not.
  void AddAttributes(const std::vector<DWORD>& ids, const CAECondition& condition, ONEVENTSTRUCT& event);
  void SendLive(Clock::time_point now, Clock::time_point& next);
  void SendRefresh();
  template <class F>
  HRESULT Call(const char* method, F&& body);

  ComRefCount refs_;
  std::shared_ptr<CAESubscription> self_;  // while clients hold references
  CAEEventServer* server_;                 // referenced until Close
  CAEConnectionPoint<IOPCEventSink> sinkPoint_;

  std::mutex mutex_;  // guards everything below but delivering_
  bool closed_ = false;
  bool active_;
  DWORD bufferTime_;
  DWORD maxSize_;
  OPCHANDLE clientHandle_;
  CAEEventFilter filter_;
  std::map<DWORD, std::vector<DWORD>> returnedAttributes_;  // category -> attribute IDs
  // Queued events: the first pendingCount_ slots; slots are reused so that
  // steady operation allocates nothing.
  std::vector<ONEVENTSTRUCT> pending_;
  size_t pendingCount_ = 0;
  size_t dropped_ = 0;
  Clock::time_point lastCallback_{};
  // Refresh: collecting (refreshing_) then ready for delivery.
  bool refreshing_ = false;
  bool refreshReady_ = false;
  uint64_t refreshId_ = 0;  // tells a cancelled refresh from a newer one
  DWORD refreshConnection_ = 0;
  std::vector<ONEVENTSTRUCT> refresh_;

  std::vector<ONEVENTSTRUCT> delivering_;  // delivery thread only
};
