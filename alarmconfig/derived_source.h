// CDerivedSource: the server's alarm source, a toolkit source with what the
// server keeps per alarm: attribute slots for the vendor attributes of its
// category, the alarm's kind and header values, its AlarmVar, and the state
// the alarm processor and the acknowledgement write-back share.
//
// Contract: built by the source builder (alarm_sources.h) and owned through
// the toolkit's reference count like any CAESource. Every accessor takes the
// source's own lock, so any thread may call them. The AlarmVar is not owned:
// the OPC DA client owns it, and the builder or the client clears it here
// before it is freed; read it under g_ConfigMutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "alarmconfig/alarm_var.h"
#include "alarmconfig/config.h"
#include "platform/filetime.h"
#include "platform/variant.h"
#include "toolkit/source.h"

class CDerivedSource : public CAESource {
 public:
  // A source named `name` (fully qualified: its area is the part before the
  // last "/") with the attribute slots of `kind`: level {0, 1}, rate of
  // change {4, 5}, bit {2, 3}, any other kind none; all slots empty.
  CDerivedSource(std::string name, AlarmKind kind, uint32_t headerValue2, uint32_t headerValue3,
                 AlarmVar* variable);
  ~CDerivedSource() override;

  // Copies `value` into the first slot of attribute `id`; false when the
  // source has no such slot.
  bool SetAttributeValue(DWORD id, const VARIANT& value);
  // Copies the slot of attribute `id` into `out`; false (out untouched)
  // when there is none.
  bool GetAttributeValue(DWORD id, VARIANT& out);
  std::vector<DWORD> AttributeIds();

  AlarmKind Kind() const { return kind_; }
  uint32_t HeaderValue2() const { return headerValue2_; }
  uint32_t HeaderValue3();
  void SetHeaderValue3(uint32_t value);

  AlarmVar* Variable();
  void SetVariable(AlarmVar* variable);

  // The high byte of the last alarm state word.
  BYTE StateFlags();
  void SetStateFlags(BYTE flags);
  // The time of the last activation.
  FILETIME LastActiveTime();
  void SetLastActiveTime(const FILETIME& time);
  // True while the server itself acknowledges and clears the source's
  // conditions (the acknowledgement is then not written back).
  bool AckInProgress() const { return ackInProgress_.load(); }
  void SetAckInProgress(bool inProgress) { ackInProgress_.store(inProgress); }

 private:
  std::vector<DWORD> attributeIds_;
  std::vector<VARIANT> attributeValues_;
  const AlarmKind kind_;
  const uint32_t headerValue2_;
  uint32_t headerValue3_;
  AlarmVar* variable_;
  BYTE stateFlags_ = 0;
  FILETIME lastActiveTime_;
  std::atomic<bool> ackInProgress_{false};
};
