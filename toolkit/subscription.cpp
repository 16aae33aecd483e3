#include "toolkit/subscription.h"

#include <algorithm>
#include <optional>
#include <string>

#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/engine.h"
#include "toolkit/enumerator.h"
#include "toolkit/event_server.h"
#include "toolkit/match_pattern.h"
#include "toolkit/server_callback.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

namespace {

bool IsAttributeOf(DWORD attributeId, DWORD category) {
  CAECfgRecAttribute record;
  return g_CfgDb.Find(AE_CFG_ATTRIBUTES, VARIANT::UI4(attributeId), record) == 0 &&
         record.categoryId == category;
}

// The server's limits on buffer time and max size: OPC_S_INVALIDMAXSIZE when
// the max size was revised, else OPC_S_INVALIDBUFFERTIME when the buffer
// time was, else S_OK.
HRESULT Revise(DWORD& bufferTime, DWORD& maxSize) {
  HRESULT hr = S_OK;
  if (bufferTime > CAESubscription::kMaxBufferTimeMs) {
    bufferTime = CAESubscription::kMaxBufferTimeMs;
    hr = OPC_S_INVALIDBUFFERTIME;
  }
  if (maxSize > CAESubscription::kQueueLimit) {
    maxSize = CAESubscription::kQueueLimit;
    hr = OPC_S_INVALIDMAXSIZE;
  }
  return hr;
}

uint64_t Now() { return CAEEngine::Instance().Clock().SteadyMs(); }

}  // namespace

HRESULT CAESubscription::Create(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                                OPCHANDLE clientSubscription, const IID& iid, IUnknown** object,
                                DWORD* revisedBufferTime, DWORD* revisedMaxSize) {
  HRESULT revised = Revise(bufferTime, maxSize);
  std::shared_ptr<CAESubscription> s(new CAESubscription(server, active, bufferTime, maxSize, clientSubscription));
  s->self_ = s;
  CAEEngine::Instance().Dispatcher().Register(s);
  HRESULT hr = s->QueryInterface(iid, reinterpret_cast<void**>(object));
  s->Release();  // the creation reference; closes the object again when the query failed
  if (FAILED(hr)) return hr;
  *revisedBufferTime = bufferTime;
  *revisedMaxSize = maxSize;
  return revised;
}

CAESubscription::CAESubscription(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                                 OPCHANDLE clientSubscription)
    : server_(server),
      // Without a sink no keep-alive is scheduled: the delivery thread learns of one from Advise.
      sinkPoint_(*static_cast<IOPCEventSubscriptionMgt*>(this), *this, IID_IOPCEventSink, 1,
                 [] { CAEEngine::Instance().Dispatcher().Wake(); }),
      active_(active != false),
      bufferTime_(bufferTime),
      maxSize_(maxSize),
      clientHandle_(clientSubscription),
      lastCallback_(Now()) {
  server_->AddRef();
  CAEEngine::Instance().Statistics().subscriptions++;
}

CAESubscription::~CAESubscription() = default;

HRESULT CAESubscription::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOPCEventSubscriptionMgt) {
    *object = static_cast<IOPCEventSubscriptionMgt*>(this);
  } else if (iid == IID_IOPCEventSubscriptionMgt2) {
    *object = static_cast<IOPCEventSubscriptionMgt2*>(this);
  } else if (iid == IID_IConnectionPointContainer) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CAESubscription::AddRef() { return refs_.Increment(); }

ULONG CAESubscription::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) Close();
  return left;
}

void CAESubscription::Close() {
  std::shared_ptr<CAESubscription> keep;  // the object may go when this does
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    pendingCount_ = 0;
    refreshPhase_ = RefreshPhase::kIdle;
    refresh_.clear();
    keep = std::move(self_);
  }
  CAEEngine& engine = CAEEngine::Instance();
  engine.Dispatcher().Unregister(this);
  sinkPoint_.Clear();
  engine.Statistics().subscriptions--;
  engine.TraceLine(3, "subscription " + std::to_string(clientHandle_) + " removed");
  server_->Release();
}

template <class F>
HRESULT CAESubscription::Call(const char* method, F&& body) {
  HRESULT hr = body();
  CAEEngine::Instance().TraceCall(3, method, hr);
  return hr;
}

HRESULT CAESubscription::ValidateFilterNames(DWORD numAreas, const std::string* areas, DWORD numSources,
                                             const std::string* sources) {
  CAEEngine& engine = CAEEngine::Instance();
  auto validate = [&](bool on, DWORD n, const std::string* names, bool isArea) {
    if (!on || n == 0) return true;
    std::vector<std::string> list(names, names + n);
    std::vector<HRESULT> errors;
    HRESULT hr = isArea ? engine.Callback().ValidateAreaNames(list, errors)
                        : engine.Callback().ValidateSourceNames(list, errors);
    return hr == S_OK && std::all_of(errors.begin(), errors.end(), [](HRESULT e) { return e == S_OK; });
  };
  if (!validate(engine.validateAreas.load(), numAreas, areas, true)) return E_INVALIDARG;
  if (!validate(engine.validateSources.load(), numSources, sources, false)) return E_INVALIDARG;
  return S_OK;
}

HRESULT CAESubscription::SetFilter(DWORD eventType, DWORD numCategories, const DWORD* eventCategories,
                                   DWORD lowSeverity, DWORD highSeverity, DWORD numAreas,
                                   const std::string* areas, DWORD numSources, const std::string* sources) {
  return Call("IOPCEventSubscriptionMgt::SetFilter", [&]() -> HRESULT {
    if (eventType == 0 || (eventType & ~OPC_ALL_EVENTS)) return E_INVALIDARG;
    if (lowSeverity < 1 || highSeverity > 1000 || lowSeverity > highSeverity) return E_INVALIDARG;
    if ((numCategories && !eventCategories) || (numAreas && !areas) || (numSources && !sources)) {
      return E_INVALIDARG;
    }
    CAEEventFilter filter;
    filter.eventTypes = eventType;
    filter.lowSeverity = lowSeverity;
    filter.highSeverity = highSeverity;
    filter.categories.assign(eventCategories, eventCategories + numCategories);
    filter.areas.assign(areas, areas + numAreas);
    filter.sources.assign(sources, sources + numSources);
    for (DWORD c : filter.categories) {
      if (!g_CfgDb.HasCategory(c)) return E_INVALIDARG;
    }
    for (const auto* list : {&filter.areas, &filter.sources}) {
      for (const std::string& p : *list) {
        if (!IsValidPattern(p)) return E_INVALIDARG;
      }
    }
    HRESULT hr = ValidateFilterNames(numAreas, areas, numSources, sources);
    if (FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    filter_ = std::move(filter);
    return S_OK;
  });
}

HRESULT CAESubscription::GetFilter(DWORD* eventType, std::vector<DWORD>* eventCategories, DWORD* lowSeverity,
                                   DWORD* highSeverity, std::vector<std::string>* areas,
                                   std::vector<std::string>* sources) {
  return Call("IOPCEventSubscriptionMgt::GetFilter", [&]() -> HRESULT {
    if (!eventType || !eventCategories || !lowSeverity || !highSeverity || !areas || !sources) return E_POINTER;
    std::lock_guard lock(mutex_);
    *eventType = filter_.eventTypes;
    *eventCategories = filter_.categories;
    *lowSeverity = filter_.lowSeverity;
    *highSeverity = filter_.highSeverity;
    *areas = filter_.areas;
    *sources = filter_.sources;
    return S_OK;
  });
}

HRESULT CAESubscription::SelectReturnedAttributes(DWORD eventCategory, DWORD count, const DWORD* attributeIds) {
  return Call("IOPCEventSubscriptionMgt::SelectReturnedAttributes", [&]() -> HRESULT {
    if (count && !attributeIds) return E_INVALIDARG;
    if (!g_CfgDb.HasCategory(eventCategory)) return E_INVALIDARG;
    for (DWORD i = 0; i < count; ++i) {
      if (!IsAttributeOf(attributeIds[i], eventCategory)) return E_INVALIDARG;
    }
    std::lock_guard lock(mutex_);
    if (count == 0) {
      returnedAttributes_.erase(eventCategory);
    } else {
      returnedAttributes_[eventCategory].assign(attributeIds, attributeIds + count);
    }
    return S_OK;
  });
}

HRESULT CAESubscription::GetReturnedAttributes(DWORD eventCategory, std::vector<DWORD>* attributeIds) {
  return Call("IOPCEventSubscriptionMgt::GetReturnedAttributes", [&]() -> HRESULT {
    if (!attributeIds) return E_POINTER;
    attributeIds->clear();
    if (!g_CfgDb.HasCategory(eventCategory)) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    auto it = returnedAttributes_.find(eventCategory);
    if (it != returnedAttributes_.end()) *attributeIds = it->second;
    return S_OK;
  });
}

HRESULT CAESubscription::Refresh(DWORD connection) {
  return Call("IOPCEventSubscriptionMgt::Refresh", [&]() -> HRESULT {
    if (!sinkPoint_.Find(connection)) return E_INVALIDARG;
    CAEEventFilter filter;
    std::map<DWORD, std::vector<DWORD>> attributes;
    {
      std::lock_guard lock(mutex_);
      if (refreshPhase_ != RefreshPhase::kIdle) return OPC_E_BUSY;
      refreshPhase_ = RefreshPhase::kCollecting;
      refreshCancelled_ = false;
      filter = filter_;
      attributes = returnedAttributes_;
    }
    // Collected here, on the client's thread, with the cache and each source
    // locked in turn; delivered later by the delivery thread.
    std::vector<ONEVENTSTRUCT> events;
    for (const CAESourcePtr& source : g_SourceCache.Snapshot()) {
      std::lock_guard sourceLock(*source);
      for (int i = 0; CAECondition* c = source->GetConditionAt(i); ++i) {
        if (!c->NeedsRefresh()) continue;
        ONEVENTSTRUCT e;
        c->BuildEvent(0, e);
        if (!filter.Passes(e, source->Area())) continue;
        auto it = attributes.find(e.dwEventCategory);
        if (it != attributes.end()) c->LatestAttributes(it->second, e.pEventAttributes);
        events.push_back(std::move(e));
      }
    }
    {
      std::lock_guard lock(mutex_);
      if (closed_) return S_OK;
      // Cancelled meanwhile: nothing but the last callback.
      if (!refreshCancelled_) refresh_ = std::move(events);
      refreshPhase_ = RefreshPhase::kReady;
      refreshConnection_ = connection;
    }
    CAEEngine::Instance().Dispatcher().Wake();
    return S_OK;
  });
}

HRESULT CAESubscription::CancelRefresh(DWORD connection) {
  return Call("IOPCEventSubscriptionMgt::CancelRefresh", [&]() -> HRESULT {
    if (!sinkPoint_.Find(connection)) return E_INVALIDARG;
    {
      std::lock_guard lock(mutex_);
      if (refreshPhase_ == RefreshPhase::kIdle || refreshCancelled_) return E_FAIL;
      refreshCancelled_ = true;
      refresh_.clear();
    }
    CAEEngine::Instance().Dispatcher().Wake();
    return S_OK;
  });
}

HRESULT CAESubscription::GetState(BOOL* active, DWORD* bufferTime, DWORD* maxSize, OPCHANDLE* clientSubscription) {
  return Call("IOPCEventSubscriptionMgt::GetState", [&]() -> HRESULT {
    if (!active || !bufferTime || !maxSize || !clientSubscription) return E_POINTER;
    std::lock_guard lock(mutex_);
    *active = active_ ? true : false;
    *bufferTime = bufferTime_;
    *maxSize = maxSize_;
    *clientSubscription = clientHandle_;
    return S_OK;
  });
}

HRESULT CAESubscription::SetState(const BOOL* active, const DWORD* bufferTime, const DWORD* maxSize,
                                  OPCHANDLE clientSubscription, DWORD* revisedBufferTime, DWORD* revisedMaxSize) {
  return Call("IOPCEventSubscriptionMgt::SetState", [&]() -> HRESULT {
    if (!revisedBufferTime || !revisedMaxSize) return E_POINTER;
    HRESULT revised;
    {
      std::lock_guard lock(mutex_);
      DWORD newBufferTime = bufferTime ? *bufferTime : bufferTime_;
      DWORD newMaxSize = maxSize ? *maxSize : maxSize_;
      revised = Revise(newBufferTime, newMaxSize);
      if (active) {
        bool wasActive = std::exchange(active_, *active != false);
        if (!active_) pendingCount_ = 0;  // an inactive subscription buffers nothing
        if (active_ && !wasActive) lastCallback_ = Now();  // the keep-alive starts over
      }
      bufferTime_ = newBufferTime;
      maxSize_ = newMaxSize;
      clientHandle_ = clientSubscription;
      *revisedBufferTime = bufferTime_;
      *revisedMaxSize = maxSize_;
    }
    CAEEngine::Instance().Dispatcher().Wake();  // the new buffer time or max size may make events due
    return revised;
  });
}

HRESULT CAESubscription::SetKeepAlive(DWORD keepAliveTime, DWORD* revisedKeepAliveTime) {
  return Call("IOPCEventSubscriptionMgt2::SetKeepAlive", [&]() -> HRESULT {
    if (!revisedKeepAliveTime) return E_POINTER;
    DWORD used = keepAliveTime == 0 ? 0 : std::max(keepAliveTime, kMinKeepAliveMs);
    {
      std::lock_guard lock(mutex_);
      keepAlive_ = used;
      lastCallback_ = Now();
    }
    *revisedKeepAliveTime = used;
    CAEEngine::Instance().Dispatcher().Wake();
    return used == keepAliveTime ? S_OK : OPC_S_INVALIDKEEPALIVETIME;
  });
}

HRESULT CAESubscription::GetKeepAlive(DWORD* keepAliveTime) {
  return Call("IOPCEventSubscriptionMgt2::GetKeepAlive", [&]() -> HRESULT {
    if (!keepAliveTime) return E_POINTER;
    std::lock_guard lock(mutex_);
    *keepAliveTime = keepAlive_;
    return S_OK;
  });
}

HRESULT CAESubscription::EnumConnectionPoints(IEnumConnectionPoints** enumerator) {
  if (!enumerator) return E_POINTER;
  sinkPoint_.AddRef();  // handed over to the enumerator
  return CAEEnumConnectionPoints::Create({&sinkPoint_}, enumerator);
}

HRESULT CAESubscription::FindConnectionPoint(const IID& iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (iid != IID_IOPCEventSink) return CONNECT_E_NOCONNECTION;
  sinkPoint_.AddRef();
  *point = &sinkPoint_;
  return S_OK;
}

void CAESubscription::Offer(const ONEVENTSTRUCT& event, const CAECondition& condition) {
  std::unique_lock lock(mutex_);
  if (!active_ || closed_ || !filter_.Passes(event, condition.Parent()->Area())) return;
  if (pendingCount_ >= kQueueLimit) {
    ++dropped_;
    return;
  }
  if (pendingCount_ == pending_.size()) pending_.emplace_back();
  ONEVENTSTRUCT& queued = pending_[pendingCount_++];
  queued = event;
  auto it = returnedAttributes_.find(event.dwEventCategory);
  if (it != returnedAttributes_.end()) condition.LatestAttributes(it->second, queued.pEventAttributes);
  bool wake = pendingCount_ == 1 || (maxSize_ && pendingCount_ == maxSize_);
  lock.unlock();
  if (wake) CAEEngine::Instance().Dispatcher().Wake();
}

uint64_t CAESubscription::Deliver(uint64_t now) {
  uint64_t next = CAEEventDispatcher::kNever;
  SendLive(now, next);
  SendRefresh(now);
  return next;
}

void CAESubscription::SendLive(uint64_t now, uint64_t& next) {
  CAEEngine& engine = CAEEngine::Instance();
  ComPtr<IOPCEventSink> sink = sinkPoint_.First();
  size_t count, dropped;
  DWORD maxSize;
  OPCHANDLE handle;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    // The keep-alive: a callback at the latest this long after the last one.
    uint64_t keepAliveDue = keepAlive_ && active_ && sink ? lastCallback_ + keepAlive_ : CAEEventDispatcher::kNever;
    if (pendingCount_ == 0 && dropped_ == 0) {
      if (now < keepAliveDue) {
        next = std::min(next, keepAliveDue);
        return;
      }
    } else {
      uint64_t due = sentEvents_ ? lastEvents_ + bufferTime_ : 0;
      if (now < due && now < keepAliveDue && !(maxSize_ && pendingCount_ >= maxSize_)) {
        next = std::min(next, std::min(due, keepAliveDue));
        return;
      }
    }
    pending_.swap(delivering_);
    count = std::exchange(pendingCount_, 0);
    dropped = std::exchange(dropped_, 0);
    maxSize = maxSize_;
    handle = clientHandle_;
    if (sink && (count || !dropped)) lastCallback_ = std::max(lastCallback_, now);
    // The next keep-alive counts from this callback.
    if (keepAlive_ && active_ && sink) next = std::min(next, lastCallback_ + keepAlive_);
    if (sink && count) {
      lastEvents_ = now;
      sentEvents_ = true;
      server_->NoteNotification();
    }
  }
  if (dropped) {
    engine.Callback().OnInternalError(E_OUTOFMEMORY, "subscription " + std::to_string(handle) + ": " +
                                                         std::to_string(dropped) +
                                                         " events dropped, the client does not keep up");
  }
  if (!sink) return;
  if (count == 0) {
    if (dropped) return;
    engine.Statistics().CountNotification();
    sink->OnEvent(handle, false, false, 0, nullptr);
    engine.TraceLine(4, "subscription " + std::to_string(handle) + ": keep-alive");
    return;
  }
  size_t chunk = maxSize ? maxSize : count;
  for (size_t offset = 0; offset < count; offset += chunk) {
    DWORD n = static_cast<DWORD>(std::min(chunk, count - offset));
    engine.Statistics().CountNotification();
    sink->OnEvent(handle, false, false, n, delivering_.data() + offset);
    engine.TraceLine(4, "subscription " + std::to_string(handle) + ": " + std::to_string(n) + " events sent");
    if (engine.Trace().Enabled(5)) {
      for (DWORD i = 0; i < n; ++i) {
        const ONEVENTSTRUCT& e = delivering_[offset + i];
        engine.TraceLine(5, "  " + e.szSource + " " + e.szConditionName + "/" + e.szSubconditionName +
                                " mask " + std::to_string(e.wChangeMask) + " state " +
                                std::to_string(e.wNewState) + " cookie " + std::to_string(e.dwCookie));
      }
    }
  }
}

void CAESubscription::SendRefresh(uint64_t now) {
  CAEEngine& engine = CAEEngine::Instance();
  std::vector<ONEVENTSTRUCT> events;
  DWORD maxSize, connection;
  OPCHANDLE handle;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || refreshPhase_ != RefreshPhase::kReady) return;
    events.swap(refresh_);
    refreshPhase_ = RefreshPhase::kDelivering;
    maxSize = maxSize_;
    handle = clientHandle_;
    connection = refreshConnection_;
  }
  ComPtr<IOPCEventSink> sink = sinkPoint_.Find(connection);
  const size_t total = events.size();
  const size_t chunk = maxSize ? maxSize : std::max<size_t>(total, 1);
  size_t offset = 0;
  // Ends with one last callback, empty when nothing was found or the
  // refresh was cancelled on the way.
  while (sink) {
    bool cancelled;
    {
      std::lock_guard lock(mutex_);
      if (closed_) break;
      cancelled = refreshCancelled_;
      lastCallback_ = std::max(lastCallback_, now);
    }
    DWORD n = cancelled ? 0 : static_cast<DWORD>(std::min(chunk, total - offset));
    BOOL last = cancelled || offset + n >= total ? true : false;
    engine.Statistics().CountNotification();
    sink->OnEvent(handle, true, last, n, n ? events.data() + offset : nullptr);
    offset += n;
    if (last) break;
  }
  engine.TraceLine(4, "subscription " + std::to_string(handle) + ": refresh of " + std::to_string(offset) +
                          " events sent");
  std::lock_guard lock(mutex_);
  refreshPhase_ = RefreshPhase::kIdle;
}
