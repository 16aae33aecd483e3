// A condition of a source (e.g. its level alarm) with the OPC AE state
// machine: enabled, active (in one of its subconditions), acknowledged,
// quality, and the times and cookie that clients present when they
// acknowledge.
//
// Contract: every operation takes the parent source's lock itself and may be
// called from any thread. A change that alters the state becomes one
// condition event, queued for every subscription whose filter passes it;
// delivery happens later on the toolkit's delivery thread, so no client code
// runs on the caller's thread. A condition is enabled when its own setting
// is, and its source and every area above it are (the source cache keeps
// that part); a disabled condition keeps its state but sends no events, and
// each change of the enabled state is one ENABLE_STATE event. Every event
// records the values of its category's attributes (from the callback's
// GetConditionAttributeValues, under the source's lock): the latest
// notification's values, which subscriptions and GetConditionState hand
// out. A null time means now (the engine clock). A condition without a
// source refuses every change with E_UNEXPECTED. Conditions live inside
// their source: AddRef/Release keep the source (and so the condition) alive.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/filetime.h"
#include "platform/variant.h"
#include "toolkit/opcae.h"
#include "toolkit/subcondition.h"

class CAESource;

// A condition's last acknowledgement as it was recorded: who, when, with
// which comment, and the activation it applied to (its time, subcondition
// and message). A later activation leaves it as it is, so whoever records
// the acknowledgement afterwards records what was acknowledged. Null times
// when the condition was never acknowledged.
struct CAEAcknowledgement {
  std::string acknowledgerId;
  std::string comment;
  FILETIME time{};
  FILETIME activeTime{};
  std::string subcondition;
  std::string message;
};

class CAECondition {
 public:
  // quality: the OPC quality of the data behind the condition (192 = good).
  CAECondition(CAESource* source, std::string name, DWORD categoryId, BOOL enabled = 1,
               WORD quality = 192);
  // Copies state and subconditions; the copy keeps the source pointer until
  // CAESource::AddCondition re-parents it.
  CAECondition(const CAECondition& other);
  CAECondition& operator=(const CAECondition&) = delete;
  ~CAECondition();

  // Adds a copy; null when a subcondition of that name exists.
  CAESubcondition* AddSubcondition(const CAESubcondition& subcondition);
  int NumberOfSubconditions();
  // Null when out of range / absent.
  CAESubcondition* GetSubconditionAt(int i);
  CAESubcondition* GetSubcondition(const std::string& name);

  // Enters the named subcondition: active, acknowledged = !ackRequired,
  // severity of the subcondition. A new activation (from inactive, into
  // another subcondition, or with another time) gets a new cookie. Nothing
  // is sent when nothing changes. E_INVALIDARG for an unknown subcondition
  // (and nothing changes).
  HRESULT Activate(const std::string& subconditionName, const std::string& message,
                   BOOL ackRequired, const FILETIME* time);
  // Returns to normal. With ackRequired an unacknowledged activation still
  // awaits acknowledgement; without, nothing awaits any more.
  HRESULT Deactivate(const std::string& message, BOOL ackRequired, const FILETIME* time);
  // The server's own acknowledgement: OPC_S_ALREADYACKED (and nothing else)
  // when nothing awaits acknowledgement.
  HRESULT Acknowledge(const std::string& acknowledgerId, const std::string& comment,
                      const FILETIME* time);
  // A changed quality sends a QUALITY event.
  HRESULT Quality(WORD quality);
  WORD Quality() const;

  // The effective state: own setting, source and areas.
  BOOL Enabled() const;
  BOOL Active() const;
  BOOL Acked() const;
  // The subcondition entered by the last Activate (kept after Deactivate);
  // empty if never active.
  std::string ActiveSubcondition() const;
  // Severity of that subcondition; 1 if none.
  DWORD Severity() const;
  std::string AcknowledgerID() const;
  std::string Name() const { return name_; }
  std::string Message() const;
  std::string Comment() const;
  FILETIME LastAckTime() const;
  // The SubconditionLastActiveTime of the activation that the last
  // acknowledgement applied to: a later activation leaves it behind, so a
  // write-back can tell that the acknowledgement it carries is no longer
  // the condition's latest.
  FILETIME AcknowledgedActiveTime() const;
  // All of the last acknowledgement, taken at once.
  CAEAcknowledgement LastAcknowledgement() const;
  FILETIME SubconditionLastActiveTime() const;
  FILETIME ConditionLastActiveTime() const;
  FILETIME ConditionLastInactiveTime() const;
  DWORD Cookie() const;
  DWORD CategoryId() const { return categoryId_; }
  CAESource* Parent() const { return parent_; }
  // OPC_CONDITION_ENABLED / ACTIVE / ACKED bits.
  WORD State() const;

  ULONG AddRef();
  ULONG Release();

  // The event machinery's view: the latest notification of this condition
  // with the given change mask (attributes left empty). The subcondition
  // is the condition's own name until one was entered.
  // REQUIRES: the parent source's lock is held.
  void BuildEvent(WORD changeMask, ONEVENTSTRUCT& event) const;
  // The latest notification's values of `ids`, in that order (empty for an
  // ID it did not carry).
  // REQUIRES: the parent source's lock is held.
  void LatestAttributes(const std::vector<DWORD>& ids, std::vector<VARIANT>& values) const;
  // The state as GetConditionState reports it (attributes left empty).
  void FillState(OPCCONDITIONSTATE& state) const;
  // A client's acknowledgement (AckCondition): E_INVALIDARG while disabled,
  // OPC_E_INVALIDTIME when activeTime is not the latest subcondition
  // activation, E_INVALIDARG for another cookie, OPC_S_ALREADYACKED, else
  // S_OK with LastAckTime now.
  HRESULT AcknowledgeByClient(const std::string& acknowledgerId, const std::string& comment,
                              const FILETIME& activeTime, DWORD cookie);
  // The condition's own setting; a change of the effective state sends an
  // ENABLE_STATE event (the last one before disabling, the first one after
  // enabling).
  HRESULT SetEnabled(BOOL enabled);
  // True for the states that a refresh re-sends: enabled and active, or
  // enabled and awaiting acknowledgement.
  // REQUIRES: the parent source's lock is held.
  bool NeedsRefresh() const { return EffectivelyEnabled() && (active_ || !acked_); }

 private:
  friend class CAESource;
  class Guard;

  // REQUIRES: the parent source's lock is held (for these four).
  bool EffectivelyEnabled() const;
  WORD StateLocked() const;
  // The ENABLE_STATE event of a change of the effective state, now.
  void NotifyEnableChange();
  // The latest notification's attribute values.
  void RecordAttributes();

  HRESULT AcknowledgeLocked(const std::string& acknowledgerId, const std::string& comment,
                            const FILETIME& time);
  // Records the event's time, actor and attributes and publishes it when
  // enabled.
  void Notify(WORD changeMask, const FILETIME& time, const std::string& actor);

  CAESource* parent_;
  std::string name_;
  DWORD categoryId_;
  std::vector<std::unique_ptr<CAESubcondition>> subconditions_;

  BOOL enabled_;
  bool active_ = false;
  bool acked_ = true;
  WORD quality_;
  int activeSub_ = -1;  // index into subconditions_
  DWORD severity_ = 1;
  std::string message_;
  std::string acknowledger_;
  std::string comment_;
  FILETIME lastAckTime_;
  FILETIME ackedActiveTime_;
  std::string ackedSubcondition_;
  std::string ackedMessage_;
  FILETIME subCondLastActive_;
  FILETIME condLastActive_;
  FILETIME condLastInactive_;
  DWORD cookie_ = 0;
  // Of the latest notification, for refresh and GetConditionState.
  FILETIME lastEventTime_;
  std::string lastActor_;
  std::vector<DWORD> lastAttributeIds_;
  std::vector<VARIANT> lastAttributeValues_;
};
