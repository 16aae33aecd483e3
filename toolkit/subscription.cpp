#include "toolkit/subscription.h"

#include <algorithm>
#include <optional>
#include <string>

#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/engine.h"
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

}  // namespace

HRESULT CAESubscription::Create(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                                OPCHANDLE clientSubscription, const IID& iid, IUnknown** object) {
  std::shared_ptr<CAESubscription> s(new CAESubscription(server, active, bufferTime, maxSize, clientSubscription));
  s->self_ = s;
  CAEEngine::Instance().Dispatcher().Register(s);
  HRESULT hr = s->QueryInterface(iid, reinterpret_cast<void**>(object));
  s->Release();  // the creation reference; closes the object again when the query failed
  return hr;
}

CAESubscription::CAESubscription(CAEEventServer* server, BOOL active, DWORD bufferTime, DWORD maxSize,
                                 OPCHANDLE clientSubscription)
    : server_(server),
      sinkPoint_(*static_cast<IOPCEventSubscriptionMgt*>(this), *this, IID_IOPCEventSink, 1),
      active_(active != false),
      bufferTime_(bufferTime),
      maxSize_(maxSize),
      clientHandle_(clientSubscription) {
  server_->AddRef();
  CAEEngine::Instance().Statistics().subscriptions++;
}

CAESubscription::~CAESubscription() = default;

HRESULT CAESubscription::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOPCEventSubscriptionMgt) {
    *object = static_cast<IOPCEventSubscriptionMgt*>(this);
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
    refreshing_ = refreshReady_ = false;
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

void CAESubscription::AddAttributes(const std::vector<DWORD>& ids, const CAECondition& condition,
                                    ONEVENTSTRUCT& event) {
  event.pEventAttributes.assign(ids.size(), VARIANT());
  CAEEngine::Instance().Callback().GetConditionAttributeValues(
      0, static_cast<DWORD>(ids.size()), ids.data(), const_cast<CAECondition*>(&condition),
      event.pEventAttributes.data());
}

HRESULT CAESubscription::Refresh(DWORD connection) {
  return Call("IOPCEventSubscriptionMgt::Refresh", [&]() -> HRESULT {
    if (!sinkPoint_.Find(connection)) return E_INVALIDARG;
    CAEEventFilter filter;
    std::map<DWORD, std::vector<DWORD>> attributes;
    uint64_t id;
    {
      std::lock_guard lock(mutex_);
      if (refreshing_) return OPC_E_BUSY;
      refreshing_ = true;
      id = ++refreshId_;
      filter = filter_;
      attributes = returnedAttributes_;
    }
    // Collected here, on the client's thread, with the cache and each source
    // locked in turn; delivered later by the delivery thread.
    std::vector<ONEVENTSTRUCT> events;
    for (const CAESourcePtr& source : g_SourceCache.Snapshot()) {
      source->Lock();
      for (int i = 0; CAECondition* c = source->GetConditionAt(i); ++i) {
        if (!c->NeedsRefresh()) continue;
        ONEVENTSTRUCT e;
        c->BuildEvent(0, e);
        if (!filter.Passes(e, source->Area())) continue;
        auto it = attributes.find(e.dwEventCategory);
        if (it != attributes.end()) AddAttributes(it->second, *c, e);
        events.push_back(std::move(e));
      }
      source->Unlock();
    }
    {
      std::lock_guard lock(mutex_);
      if (!refreshing_ || refreshId_ != id) return S_OK;  // cancelled meanwhile
      refresh_ = std::move(events);
      refreshReady_ = true;
      refreshConnection_ = connection;
    }
    CAEEngine::Instance().Dispatcher().Wake();
    return S_OK;
  });
}

HRESULT CAESubscription::CancelRefresh(DWORD connection) {
  return Call("IOPCEventSubscriptionMgt::CancelRefresh", [&]() -> HRESULT {
    if (!sinkPoint_.Find(connection)) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (!refreshing_) return E_FAIL;
    refreshing_ = refreshReady_ = false;
    refresh_.clear();
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
    {
      std::lock_guard lock(mutex_);
      if (active) {
        active_ = *active != false;
        if (!active_) pendingCount_ = 0;  // an inactive subscription buffers nothing
      }
      if (bufferTime) bufferTime_ = *bufferTime;
      if (maxSize) maxSize_ = *maxSize;
      clientHandle_ = clientSubscription;
      *revisedBufferTime = bufferTime_;
      *revisedMaxSize = maxSize_;
    }
    CAEEngine::Instance().Dispatcher().Wake();  // the new buffer time or max size may make events due
    return S_OK;
  });
}

HRESULT CAESubscription::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
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
  const ONEVENTSTRUCT* queued = &event;
  std::optional<ONEVENTSTRUCT> withAttributes;
  std::unique_lock lock(mutex_);
  if (!active_ || closed_ || !filter_.Passes(event, condition.Parent()->Area())) return;
  auto it = returnedAttributes_.find(event.dwEventCategory);
  if (it != returnedAttributes_.end()) {
    // The server fills the values outside this subscription's lock.
    std::vector<DWORD> ids = it->second;
    lock.unlock();
    withAttributes.emplace(event);
    AddAttributes(ids, condition, *withAttributes);
    queued = &*withAttributes;
    lock.lock();
    if (!active_ || closed_) return;
  }
  if (pendingCount_ >= kQueueLimit) {
    ++dropped_;
    return;
  }
  if (pendingCount_ == pending_.size()) pending_.emplace_back();
  pending_[pendingCount_++] = *queued;
  bool wake = pendingCount_ == 1 || (maxSize_ && pendingCount_ == maxSize_);
  lock.unlock();
  if (wake) CAEEngine::Instance().Dispatcher().Wake();
}

CAESubscription::Clock::time_point CAESubscription::Deliver(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  SendLive(now, next);
  SendRefresh();
  return next;
}

void CAESubscription::SendLive(Clock::time_point now, Clock::time_point& next) {
  CAEEngine& engine = CAEEngine::Instance();
  ComPtr<IOPCEventSink> sink = sinkPoint_.First();
  size_t count, dropped;
  DWORD maxSize;
  OPCHANDLE handle;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || (pendingCount_ == 0 && dropped_ == 0)) return;
    Clock::time_point due = lastCallback_ + std::chrono::milliseconds(bufferTime_);
    if (now < due && !(maxSize_ && pendingCount_ >= maxSize_)) {
      next = due;
      return;
    }
    pending_.swap(delivering_);
    count = std::exchange(pendingCount_, 0);
    dropped = std::exchange(dropped_, 0);
    maxSize = maxSize_;
    handle = clientHandle_;
    if (sink && count) {
      lastCallback_ = now;
      server_->NoteNotification();
    }
  }
  if (dropped) {
    engine.Callback().OnInternalError(E_OUTOFMEMORY, "subscription " + std::to_string(handle) + ": " +
                                                         std::to_string(dropped) +
                                                         " events dropped, the client does not keep up");
  }
  if (!sink) return;
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

void CAESubscription::SendRefresh() {
  CAEEngine& engine = CAEEngine::Instance();
  std::vector<ONEVENTSTRUCT> events;
  DWORD maxSize, connection;
  OPCHANDLE handle;
  uint64_t id;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || !refreshReady_) return;
    events.swap(refresh_);
    refreshReady_ = false;
    maxSize = maxSize_;
    handle = clientHandle_;
    connection = refreshConnection_;
    id = refreshId_;
  }
  ComPtr<IOPCEventSink> sink = sinkPoint_.Find(connection);
  const size_t total = events.size();
  const size_t chunk = maxSize ? maxSize : std::max<size_t>(total, 1);
  size_t offset = 0;
  // An empty refresh still ends with one (empty) last callback.
  do {
    {
      std::lock_guard lock(mutex_);
      if (!sink || !refreshing_ || refreshId_ != id) break;  // gone or cancelled
    }
    DWORD n = static_cast<DWORD>(std::min(chunk, total - offset));
    BOOL last = offset + n >= total ? true : false;
    engine.Statistics().CountNotification();
    sink->OnEvent(handle, true, last, n, n ? events.data() + offset : nullptr);
    offset += n;
  } while (offset < total);
  engine.TraceLine(4, "subscription " + std::to_string(handle) + ": refresh of " + std::to_string(events.size()) +
                          " events sent");
  std::lock_guard lock(mutex_);
  if (refreshId_ == id) refreshing_ = false;
}
