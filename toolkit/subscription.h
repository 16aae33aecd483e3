// The event subscription object of one client (IOPCEventSubscriptionMgt,
// IOPCEventSubscriptionMgt2, IConnectionPointContainer with one
// IOPCEventSink): its filter, state, keep-alive, returned attributes, the
// queue of events waiting for delivery and a refresh under way.
//
// Contract: created by CAEEventServer::CreateEventSubscription; holds a
// reference to its server until its last client reference goes. The COM
// reference count governs the client's view; the delivery machinery keeps
// the object's memory alive (shared ownership) while it still uses it, so a
// client may release the subscription from inside OnEvent. Events of one
// subscription are delivered in the order they were queued. The server's
// limits: a buffer time of at most kMaxBufferTimeMs, a max size of at most
// kQueueLimit (0 stays "no limit"), a keep-alive of at least
// kMinKeepAliveMs (0 stays "none"); larger or smaller requests are revised.
// The keep-alive time counts from SetKeepAlive, activation or the last
// callback; one that fell due before a sink was advised goes at the Advise.
// A refresh runs from Refresh to its last callback (also after
// CancelRefresh, which leaves one empty last callback to make).
// Locks: the subscription's own lock is taken under a source lock (Offer)
// and never held while a source, the cache or a client is called.
#pragma once

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

class CAESubscription final : public IOPCEventSubscriptionMgt2, public IConnectionPointContainer {
 public:
  // Events queued beyond this for a client that does not keep up are dropped
  // (and reported through OnInternalError), so a stuck client cannot exhaust
  // the server's memory.
  static constexpr size_t kQueueLimit = 100'000;
  static constexpr DWORD kMaxBufferTimeMs = 600'000;
  static constexpr DWORD kMinKeepAliveMs = 100;

  // The new subscription queried for `iid` into *object, with the buffer
  // time and max size it uses; the revision codes of CreateEventSubscription.
  static HRESULT Create(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                        OPCHANDLE clientSubscription, const IID& iid, IUnknown** object,
                        DWORD* revisedBufferTime, DWORD* revisedMaxSize);
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

  // IOPCEventSubscriptionMgt2
  HRESULT SetKeepAlive(DWORD keepAliveTime, DWORD* revisedKeepAliveTime) override;
  HRESULT GetKeepAlive(DWORD* keepAliveTime) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** enumerator) override;
  HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) override;

  // Queues `event` (built from `condition`) when the subscription is active
  // and its filter passes it, with the returned attributes of its category.
  // REQUIRES: the condition's source lock is held.
  void Offer(const ONEVENTSTRUCT& event, const CAECondition& condition);
  // Delivery thread: sends what is due at `nowMs` (the engine clock's
  // steady time); returns when it next wants to run
  // (CAEEventDispatcher::kNever when nothing waits).
  uint64_t Deliver(uint64_t nowMs);

 private:
  enum class RefreshPhase { kIdle, kCollecting, kReady, kDelivering };

  CAESubscription(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                  OPCHANDLE clientSubscription);
  // The last client reference went: leave the engine, drop sink and server.
  void Close();
  HRESULT ValidateFilterNames(DWORD numAreas, const std::string* areas, DWORD numSources,
                              const std::string* sources);
  // Sends the queued events when due (or a keep-alive); lowers `next`.
  void SendLive(uint64_t now, uint64_t& next);
  void SendRefresh(uint64_t now);
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
  DWORD keepAlive_ = 0;
  OPCHANDLE clientHandle_;
  CAEEventFilter filter_;
  std::map<DWORD, std::vector<DWORD>> returnedAttributes_;  // category -> attribute IDs
  // Queued events: the first pendingCount_ slots; slots are reused so that
  // steady operation allocates nothing.
  std::vector<ONEVENTSTRUCT> pending_;
  size_t pendingCount_ = 0;
  size_t dropped_ = 0;
  uint64_t lastEvents_ = 0;  // when events were last sent (for the buffer time)
  bool sentEvents_ = false;  // ... at all: the first ones wait for nothing
  uint64_t lastCallback_;    // the last callback of any kind, or when keep-alive started
  RefreshPhase refreshPhase_ = RefreshPhase::kIdle;
  bool refreshCancelled_ = false;
  DWORD refreshConnection_ = 0;
  std::vector<ONEVENTSTRUCT> refresh_;

  std::vector<ONEVENTSTRUCT> delivering_;  // delivery thread only
};
