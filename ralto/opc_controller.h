// One simulated controller alarm block: its process value (O0C) or input bit
// (O0D), its limits, and its two alarms (level or bit alarm on ".AS",
// rate-of-change alarm on ".RS"), published as the block's items.
//
// The controller scans when the plant tells it to: the level comes from the
// process value against fixed limits (LoLo 10, Lo 20, Hi 80, HiHi 90), the
// rate of change is the change since the previous scan per second (over at
// least one second) against 10 per second, the bit alarm is the input bit.
// A state that turns to alarm is a new activation: unacknowledged, with the
// scan's time as activation time and no acknowledgement or return time; a
// return to normal records the return time and keeps the acknowledgement.
// Each alarm publishes its state word and four elements with one time stamp,
// or, incoherently, the word now and the elements at the next
// ApplyPendingElements.
//
// Not thread-safe: the plant's lock guards it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "ralto/alarm_state_array.h"
#include "ralto/opc_address_space.h"
#include "ralto/opc_control.h"
#include "ralto/opc_plant_documents.h"

class CRaltoController {
 public:
  enum Alarm { kLevel = 0, kRateOfChange = 1 };  // ".AS" and ".RS"

  static constexpr float kInitialValue = 50;
  static constexpr float kLoLo = 10, kLo = 20, kHi = 80, kHiHi = 90;
  static constexpr float kRatePerSecond = 10;
  // The simulation's controllers set bit 0 of the flags byte (alarm enabled).
  static constexpr uint8_t kDefaultFlags = 0x01;

  // id: "NODE.BLOCK", the prefix of the block's item ids.
  explicit CRaltoController(std::string id);

  const std::string& id() const { return id_; }
  bool present() const { return present_; }
  bool digital() const { return digital_; }

  // Makes the block's items those of `def` (present again if vanished) and
  // publishes them all at `now`; nothing happens for a present block whose
  // members did not change.
  void Bind(const RaltoBlockDef& def, CRaltoAddressSpace& space, const FILETIME& now);
  // The block left the documents: its items vanish; the state is kept.
  void Unbind(CRaltoAddressSpace& space);
  // Calls f for each of the block's item indices.
  void ForEachItem(const std::function<void(uint32_t)>& f) const;

  // kLevel or kRateOfChange when `index` is that alarm's state word, else -1.
  int AlarmOfWord(uint32_t index) const;
  // The alarm's state word item, or kNoItem when the block has none.
  uint32_t WordOf(int alarm) const { return alarmItems_[alarm].word; }
  // The alarm as the controller holds it, times in UTC.
  RaltoAlarmSetting AlarmSetting(int alarm) const;
  // The process value: the analog value (O0C), 1 or 0 for the input bit (O0D).
  double ProcessValue() const { return digital_ ? (input_ ? 1 : 0) : value_; }
  bool IsFcItem(uint32_t index) const { return index == fc_; }

  // Takes effect at the next Scan.
  void SetProcessValue(double value);
  // A random step of the process: the value walks by up to 15 within
  // 0..100 (O0C), the input bit is set one time in four (O0D).
  void RandomChange(std::mt19937& random);
  // Evaluates the alarms at `now`; dtMs is the time since the previous scan.
  // Returns true while the block needs further scans (a rate-of-change alarm
  // that only a quiet scan ends).
  bool Scan(const FILETIME& now, uint64_t dtMs, CRaltoAddressSpace& space, bool incoherent);

  // REQUIRES: AlarmOfWord(word) == alarm, setting.state in range (see ValidState).
  void SetAlarm(int alarm, const RaltoAlarmSetting& setting, const FILETIME& now,
                CRaltoAddressSpace& space, bool incoherent);
  bool ValidState(int alarm, BYTE state) const;
  // An acknowledgement word arrived: sets the acknowledged bit and time of
  // an unacknowledged alarm.
  void Acknowledge(int alarm, const FILETIME& now, CRaltoAddressSpace& space, bool incoherent);
  // A return to normal at `now` (as a scan finding the process normal):
  // the return time is recorded, the acknowledgement kept.
  void Clear(int alarm, const FILETIME& now, CRaltoAddressSpace& space, bool incoherent);
  // The value written to ".FC" becomes the item's value.
  void StoreFc(LONG value, const FILETIME& now, CRaltoAddressSpace& space);

  bool HasPendingElements() const { return pending_[0] || pending_[1]; }
  // Publishes the elements that an incoherent update held back.
  void ApplyPendingElements(const FILETIME& now, CRaltoAddressSpace& space);

  // The plant's bookkeeping: on its list of blocks to scan, on its list of
  // blocks with held-back elements.
  bool scanQueued = false;
  bool pendingQueued = false;

 private:
  struct AlarmItems {
    uint32_t word = CRaltoAddressSpace::kNoItem;
    std::array<uint32_t, 4> elements{CRaltoAddressSpace::kNoItem, CRaltoAddressSpace::kNoItem,
                                     CRaltoAddressSpace::kNoItem, CRaltoAddressSpace::kNoItem};
  };

  uint32_t LevelState() const;
  void Transition(int alarm, uint8_t state, const FILETIME& now, CRaltoAddressSpace& space,
                  bool incoherent);
  void PublishAlarm(int alarm, const FILETIME& now, CRaltoAddressSpace& space, bool incoherent);
  void PublishValues(const FILETIME& now, CRaltoAddressSpace& space);
  uint32_t StatusWord() const;

  std::string id_;
  RaltoBlockDef def_;
  bool present_ = false;
  bool digital_ = false;
  AlarmItems alarmItems_[2];
  uint32_t fc_ = CRaltoAddressSpace::kNoItem;
  uint32_t pi_ = CRaltoAddressSpace::kNoItem;
  uint32_t st_ = CRaltoAddressSpace::kNoItem;

  float value_ = kInitialValue;
  float scanValue_ = kInitialValue;
  bool input_ = false;
  LONG fcValue_ = 0;
  RaltoAlarmRecord alarms_[2];
  bool pending_[2] = {false, false};
  std::array<uint32_t, 4> pendingValues_[2];
};
