#include "alarmproc/condition_updater.h"

#include "alarmconfig/config.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/source_name.h"
#include "alarmconfig/string_ids.h"
#include "alarmconfig/tracked_cache_lock.h"
#include "platform/resource_strings.h"
#include "toolkit/condition.h"
#include "toolkit/source_cache.h"

namespace {

// The toolkit takes a null time as now; a controller that recorded no time
// gives zero.
const FILETIME* TimeOrNow(const FILETIME& time) { return IsNullFileTime(time) ? nullptr : &time; }

// Activates `word` at the controller's time. Without one, an activation
// already under way in that subcondition keeps the time it recorded (so a
// second reading of the same word is no new alarm) and a new one takes now.
// Returns the time the condition recorded: what the source must hold for a
// client's acknowledgement to match.
FILETIME Activate(CAECondition& condition, const std::string& word, const std::string& message, BOOL ackRequired,
                  const FILETIME& activation) {
  FILETIME time = activation;
  if (IsNullFileTime(time) && condition.Active() && condition.ActiveSubcondition() == word)
    time = condition.SubconditionLastActiveTime();
  condition.Activate(word, message, ackRequired, TimeOrNow(time));
  return condition.SubconditionLastActiveTime();
}

// "h : m : s" of a UTC time in local time, numbers without leading zeros.
std::string LocalClockText(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME fields;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) fields = SYSTEMTIME();
  return std::to_string(fields.wHour) + " : " + std::to_string(fields.wMinute) + " : " +
         std::to_string(fields.wSecond);
}

// The source's state shared with the acknowledgement write-back; a source
// of another class has none.
class SourceState {
 public:
  explicit SourceState(CAESource* source) : derived_(dynamic_cast<CDerivedSource*>(source)) {}
  void Activated(const FILETIME& time, uint8_t flags) {
    if (!derived_) return;
    derived_->SetLastActiveTime(time);
    derived_->SetStateFlags(flags);
  }
  void AckInProgress(bool on) {
    if (derived_) derived_->SetAckInProgress(on);
  }
  // Nobody fills the acknowledgement comment and name here: the slots
  // hold empty texts of the attributes' declared type.
  void ClearAttributes() {
    if (!derived_) return;
    for (DWORD id : derived_->AttributeIds()) derived_->SetAttributeValue(id, VARIANT::Bstr(std::string()));
  }

 private:
  CDerivedSource* derived_;
};

}  // namespace

CConditionUpdater::Result CConditionUpdater::Apply(AlarmVar& variable, const AlarmEvent& event, bool completed,
                                                   size_t listSize, size_t& emptySources) {
  TrackedCacheGuard cache(g_CacheLock, AE_SITE);
  CAESourcePtr source = g_SourceCache.FindSource(BuildSourceName(event.baseName, event.kind));
  if (!source) {
    ++emptySources;
    return kNoSource;
  }
  std::string conditionWord;
  std::string word;
  ConditionTypeName(conditionWord, event.kind);
  SubconditionTypeName(word, event.kind, event.state);
  CAECondition* condition = source->GetCondition(conditionWord);
  if (!condition) return kNoCondition;
  if (event.state == 0 && word.empty()) word = condition->ActiveSubcondition();

  SourceState state(source.Get());
  state.ClearAttributes();
  std::string acknowledger = condition->AcknowledgerID();
  if (acknowledger.empty()) acknowledger = LoadResourceString(kStringUnknownUser);
  std::string block = MakeItemId(variable.nodeName, variable.BlockName());
  const FILETIME& activation = event.activationTime;
  FILETIME shown = activation;
  bool on = event.state != 0;

  if (on && !event.acknowledged) {
    state.Activated(Activate(*condition, word, event.message, true, activation), event.flags);
  } else if (on) {
    // A client acknowledged the old subcondition: the new one is a new alarm.
    bool rearmed = false;
    if (condition->Active() && condition->Acked() && condition->ActiveSubcondition() != word) {
      condition->Deactivate(event.message, false, TimeOrNow(activation));
      rearmed = true;
    }
    if (!condition->Active()) Activate(*condition, word, event.message, true, activation);
    state.AckInProgress(true);
    FILETIME acked;
    bool read = reader_.ReadEventTime(block, event.kind, acked, 2, 3) == CAlarmStateReader::kTimeOk;
    FILETIME time = acked;
    if (!read || (variable.initialPending && IsNullFileTime(acked))) {
      time = activation;
    } else if (rearmed) {
      time = condition->LastAckTime();
    }
    condition->Acknowledge(acknowledger, std::string(), TimeOrNow(time));
    state.AckInProgress(false);
  } else {
    BOOL ackRequired = !event.acknowledged;
    if (completed || (ackRequired && variable.initialPending)) {
      if (word.empty()) word = event.kind == kAlarmBit ? "Bit" : "Normal";
      state.Activated(Activate(*condition, word, event.message, ackRequired, activation), event.flags);
    }
    if (!ackRequired) {
      state.AckInProgress(true);
      FILETIME acked;
      bool read = reader_.ReadEventTime(block, event.kind, acked, 2, 3) == CAlarmStateReader::kTimeOk;
      condition->Acknowledge(acknowledger, std::string(), TimeOrNow(read ? acked : activation));
      state.AckInProgress(false);
    }
    FILETIME normal;
    if (reader_.ReadEventTime(block, event.kind, normal, 2, 4) == CAlarmStateReader::kTimeOk) shown = normal;
    condition->Deactivate(event.message, ackRequired, TimeOrNow(shown));
  }

  if (dump_) {
    dump_->Write(event.baseName + " (CONDITION) : " + conditionWord + (on ? " (ON) : " : " (OFF) : ") + word +
                 " (TRIGGER TIME) : " + LocalClockText(shown) + " : ListSize= " + std::to_string(listSize) +
                 " : EmptyPSources= " + std::to_string(emptySources) + "\r\n");
  }
  variable.initialPending = false;
  return kApplied;
}
