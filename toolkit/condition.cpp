#include "toolkit/condition.h"

#include <algorithm>
#include <atomic>

#include "toolkit/cfg_db.h"
#include "toolkit/engine.h"
#include "toolkit/server_callback.h"
#include "toolkit/source.h"

namespace {

// Cookies are unique in the process and never 0 (0 = never activated).
DWORD NextCookie() {
  static std::atomic<DWORD> next{1};
  DWORD c = next.fetch_add(1, std::memory_order_relaxed);
  return c != 0 ? c : next.fetch_add(1, std::memory_order_relaxed);
}

FILETIME Now() { return CAEEngine::Instance().Clock().NowUtc(); }

FILETIME TimeOrNow(const FILETIME* time) { return time ? *time : Now(); }

}  // namespace

// Holds the parent source's lock (nothing for a condition without a source).
class CAECondition::Guard {
 public:
  explicit Guard(const CAECondition& c) : source_(c.parent_) {
    if (source_) source_->Lock();
  }
  ~Guard() {
    if (source_) source_->Unlock();
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CAESource* source_;
};

CAECondition::CAECondition(CAESource* source, std::string name, DWORD categoryId, BOOL enabled,
                           WORD quality)
    : parent_(source), name_(std::move(name)), categoryId_(categoryId), enabled_(enabled ? true : false),
      quality_(quality) {}

CAECondition::CAECondition(const CAECondition& o) : parent_(o.parent_), name_(o.name_), categoryId_(o.categoryId_) {
  Guard guard(o);
  for (const auto& s : o.subconditions_) subconditions_.push_back(std::make_unique<CAESubcondition>(*s));
  enabled_ = o.enabled_;
  active_ = o.active_;
  acked_ = o.acked_;
  quality_ = o.quality_;
  activeSub_ = o.activeSub_;
  severity_ = o.severity_;
  message_ = o.message_;
  acknowledger_ = o.acknowledger_;
  comment_ = o.comment_;
  lastAckTime_ = o.lastAckTime_;
  ackedActiveTime_ = o.ackedActiveTime_;
  ackedSubcondition_ = o.ackedSubcondition_;
  ackedMessage_ = o.ackedMessage_;
  subCondLastActive_ = o.subCondLastActive_;
  condLastActive_ = o.condLastActive_;
  condLastInactive_ = o.condLastInactive_;
  cookie_ = o.cookie_;
  lastEventTime_ = o.lastEventTime_;
  lastActor_ = o.lastActor_;
  lastAttributeIds_ = o.lastAttributeIds_;
  lastAttributeValues_ = o.lastAttributeValues_;
}

CAECondition::~CAECondition() = default;

CAESubcondition* CAECondition::AddSubcondition(const CAESubcondition& subcondition) {
  Guard guard(*this);
  for (const auto& s : subconditions_) {
    if (s->Name() == subcondition.Name()) return nullptr;
  }
  subconditions_.push_back(std::make_unique<CAESubcondition>(subcondition));
  return subconditions_.back().get();
}

int CAECondition::NumberOfSubconditions() {
  Guard guard(*this);
  return static_cast<int>(subconditions_.size());
}

CAESubcondition* CAECondition::GetSubconditionAt(int i) {
  Guard guard(*this);
  return i >= 0 && i < static_cast<int>(subconditions_.size()) ? subconditions_[i].get() : nullptr;
}

CAESubcondition* CAECondition::GetSubcondition(const std::string& name) {
  Guard guard(*this);
  for (const auto& s : subconditions_) {
    if (s->Name() == name) return s.get();
  }
  return nullptr;
}

HRESULT CAECondition::Activate(const std::string& subconditionName, const std::string& message,
                               BOOL ackRequired, const FILETIME* time) {
  if (!parent_) return E_UNEXPECTED;
  Guard guard(*this);
  int index = -1;
  for (size_t i = 0; i < subconditions_.size(); ++i) {
    if (subconditions_[i]->Name() == subconditionName) index = static_cast<int>(i);
  }
  if (index < 0) return E_INVALIDARG;

  FILETIME t = TimeOrNow(time);
  DWORD severity = subconditions_[index]->Severity();
  bool acked = !ackRequired;
  bool newActivation = !active_ || index != activeSub_ || !(t == subCondLastActive_);
  WORD mask = 0;
  if (!active_) mask |= OPC_CHANGE_ACTIVE_STATE;
  // Re-entering the same subcondition at a new time counts as entering it.
  if (index != activeSub_ || (active_ && newActivation)) mask |= OPC_CHANGE_SUBCONDITION;
  if (severity != severity_) mask |= OPC_CHANGE_SEVERITY;
  if (message != message_) mask |= OPC_CHANGE_MESSAGE;
  if (acked != acked_) mask |= OPC_CHANGE_ACK_STATE;
  if (mask == 0) return S_OK;

  if (!active_) condLastActive_ = t;
  active_ = true;
  activeSub_ = index;
  severity_ = severity;
  message_ = message;
  acked_ = acked;
  subCondLastActive_ = t;
  if (newActivation) cookie_ = NextCookie();
  Notify(mask, t, std::string());
  return S_OK;
}

HRESULT CAECondition::Deactivate(const std::string& message, BOOL ackRequired, const FILETIME* time) {
  if (!parent_) return E_UNEXPECTED;
  Guard guard(*this);
  bool acked = ackRequired ? acked_ : true;
  WORD mask = 0;
  if (active_) mask |= OPC_CHANGE_ACTIVE_STATE;
  if (acked != acked_) mask |= OPC_CHANGE_ACK_STATE;
  if (message != message_) mask |= OPC_CHANGE_MESSAGE;
  if (mask == 0) return S_OK;

  FILETIME t = TimeOrNow(time);
  if (active_) condLastInactive_ = t;
  active_ = false;
  acked_ = acked;
  message_ = message;
  Notify(mask, t, std::string());
  return S_OK;
}

HRESULT CAECondition::Acknowledge(const std::string& acknowledgerId, const std::string& comment,
                                  const FILETIME* time) {
  if (!parent_) return E_UNEXPECTED;
  Guard guard(*this);
  return AcknowledgeLocked(acknowledgerId, comment, TimeOrNow(time));
}

HRESULT CAECondition::AcknowledgeByClient(const std::string& acknowledgerId, const std::string& comment,
                                          const FILETIME& activeTime, DWORD cookie) {
  if (!parent_) return E_UNEXPECTED;
  Guard guard(*this);
  // A disabled condition is no condition a client may acknowledge.
  if (!EffectivelyEnabled()) return E_INVALIDARG;
  if (!(activeTime == subCondLastActive_)) return OPC_E_INVALIDTIME;
  if (cookie != cookie_) return E_INVALIDARG;
  return AcknowledgeLocked(acknowledgerId, comment, Now());
}

HRESULT CAECondition::AcknowledgeLocked(const std::string& acknowledgerId, const std::string& comment,
                                        const FILETIME& time) {
  if (acked_) return OPC_S_ALREADYACKED;
  acked_ = true;
  acknowledger_ = acknowledgerId;
  comment_ = comment;
  lastAckTime_ = time;
  ackedActiveTime_ = subCondLastActive_;
  ackedSubcondition_ = activeSub_ >= 0 ? subconditions_[activeSub_]->Name() : std::string();
  ackedMessage_ = message_;
  Notify(OPC_CHANGE_ACK_STATE, time, acknowledgerId);
  return S_OK;
}

HRESULT CAECondition::Quality(WORD quality) {
  if (!parent_) return E_UNEXPECTED;
  Guard guard(*this);
  if (quality == quality_) return S_OK;
  quality_ = quality;
  Notify(OPC_CHANGE_QUALITY, Now(), std::string());
  return S_OK;
}

HRESULT CAECondition::SetEnabled(BOOL enabled) {
  if (!parent_) return E_UNEXPECTED;
  Guard guard(*this);
  BOOL value = enabled ? true : false;
  if (value == enabled_) return S_OK;
  bool before = EffectivelyEnabled();
  enabled_ = value;
  if (EffectivelyEnabled() != before) NotifyEnableChange();
  return S_OK;
}

bool CAECondition::EffectivelyEnabled() const { return enabled_ && (!parent_ || parent_->enabledInHierarchy_); }

void CAECondition::NotifyEnableChange() {
  lastEventTime_ = Now();
  lastActor_.clear();
  RecordAttributes();
  // The disabling event still goes out, with the new state.
  CAEEngine::Instance().Dispatcher().Publish(*this, OPC_CHANGE_ENABLE_STATE);
}

void CAECondition::RecordAttributes() {
  g_CfgDb.AttributeIdsOfCategory(categoryId_, lastAttributeIds_);
  lastAttributeValues_.assign(lastAttributeIds_.size(), VARIANT());
  if (lastAttributeIds_.empty()) return;
  CAEEngine::Instance().Callback().GetConditionAttributeValues(0, static_cast<DWORD>(lastAttributeIds_.size()),
                                                                lastAttributeIds_.data(), this,
                                                                lastAttributeValues_.data());
}

void CAECondition::LatestAttributes(const std::vector<DWORD>& ids, std::vector<VARIANT>& values) const {
  values.assign(ids.size(), VARIANT());
  for (size_t i = 0; i < ids.size(); ++i) {
    auto it = std::find(lastAttributeIds_.begin(), lastAttributeIds_.end(), ids[i]);
    if (it != lastAttributeIds_.end()) values[i] = lastAttributeValues_[it - lastAttributeIds_.begin()];
  }
}

void CAECondition::Notify(WORD changeMask, const FILETIME& time, const std::string& actor) {
  lastEventTime_ = time;
  lastActor_ = actor;
  RecordAttributes();
  if (EffectivelyEnabled()) CAEEngine::Instance().Dispatcher().Publish(*this, changeMask);
}

void CAECondition::BuildEvent(WORD changeMask, ONEVENTSTRUCT& e) const {
  e.wChangeMask = changeMask;
  e.wNewState = StateLocked();
  e.szSource = parent_->Name();
  e.ftTime = lastEventTime_;
  e.szMessage = message_;
  e.dwEventType = OPC_CONDITION_EVENT;
  e.dwEventCategory = categoryId_;
  e.dwSeverity = severity_;
  e.szConditionName = name_;
  // Never active: the condition stands for itself, as a single-state one does.
  e.szSubconditionName = activeSub_ >= 0 ? subconditions_[activeSub_]->Name() : name_;
  e.wQuality = quality_;
  e.wReserved = 0;
  e.bAckRequired = acked_ ? false : true;
  e.ftActiveTime = subCondLastActive_;
  e.dwCookie = cookie_;
  e.pEventAttributes.clear();
  e.szActorID = lastActor_;
}

void CAECondition::FillState(OPCCONDITIONSTATE& s) const {
  Guard guard(*this);
  s.wState = StateLocked();
  const CAESubcondition* sub = active_ && activeSub_ >= 0 ? subconditions_[activeSub_].get() : nullptr;
  s.szActiveSubCondition = sub ? sub->Name() : std::string();
  s.szASCDefinition = sub ? sub->Definition() : std::string();
  s.dwASCSeverity = sub ? sub->Severity() : 1;
  s.szASCDescription = sub ? sub->Description() : std::string();
  s.wQuality = quality_;
  s.ftLastAckTime = lastAckTime_;
  s.ftSubCondLastActive = subCondLastActive_;
  s.ftCondLastActive = condLastActive_;
  s.ftCondLastInactive = condLastInactive_;
  s.szAcknowledgerID = acknowledger_;
  s.szComment = comment_;
  s.pszSCNames.clear();
  s.pszSCDefinitions.clear();
  s.pdwSCSeverities.clear();
  s.pszSCDescriptions.clear();
  for (const auto& c : subconditions_) {
    s.pszSCNames.push_back(c->Name());
    s.pszSCDefinitions.push_back(c->Definition());
    s.pdwSCSeverities.push_back(c->Severity());
    s.pszSCDescriptions.push_back(c->Description());
  }
  s.pEventAttributes.clear();
  s.pErrors.clear();
}

WORD CAECondition::Quality() const {
  Guard guard(*this);
  return quality_;
}

BOOL CAECondition::Enabled() const {
  Guard guard(*this);
  return EffectivelyEnabled() ? true : false;
}

BOOL CAECondition::Active() const {
  Guard guard(*this);
  return active_ ? true : false;
}

BOOL CAECondition::Acked() const {
  Guard guard(*this);
  return acked_ ? true : false;
}

std::string CAECondition::ActiveSubcondition() const {
  Guard guard(*this);
  return activeSub_ >= 0 ? subconditions_[activeSub_]->Name() : std::string();
}

DWORD CAECondition::Severity() const {
  Guard guard(*this);
  return severity_;
}

std::string CAECondition::AcknowledgerID() const {
  Guard guard(*this);
  return acknowledger_;
}

std::string CAECondition::Message() const {
  Guard guard(*this);
  return message_;
}

std::string CAECondition::Comment() const {
  Guard guard(*this);
  return comment_;
}

FILETIME CAECondition::LastAckTime() const {
  Guard guard(*this);
  return lastAckTime_;
}

FILETIME CAECondition::AcknowledgedActiveTime() const {
  Guard guard(*this);
  return ackedActiveTime_;
}

CAEAcknowledgement CAECondition::LastAcknowledgement() const {
  Guard guard(*this);
  return {acknowledger_, comment_, lastAckTime_, ackedActiveTime_, ackedSubcondition_, ackedMessage_};
}

FILETIME CAECondition::SubconditionLastActiveTime() const {
  Guard guard(*this);
  return subCondLastActive_;
}

FILETIME CAECondition::ConditionLastActiveTime() const {
  Guard guard(*this);
  return condLastActive_;
}

FILETIME CAECondition::ConditionLastInactiveTime() const {
  Guard guard(*this);
  return condLastInactive_;
}

DWORD CAECondition::Cookie() const {
  Guard guard(*this);
  return cookie_;
}

WORD CAECondition::State() const {
  Guard guard(*this);
  return StateLocked();
}

WORD CAECondition::StateLocked() const {
  return (EffectivelyEnabled() ? OPC_CONDITION_ENABLED : 0) | (active_ ? OPC_CONDITION_ACTIVE : 0) |
         (acked_ ? OPC_CONDITION_ACKED : 0);
}

ULONG CAECondition::AddRef() { return parent_ ? parent_->AddRef() : 1; }

ULONG CAECondition::Release() { return parent_ ? parent_->Release() : 1; }
