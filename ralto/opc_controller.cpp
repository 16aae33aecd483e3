#include "ralto/opc_controller.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kNoItem = CRaltoAddressSpace::kNoItem;
constexpr const char* kWordSuffix[2] = {".AS", ".RS"};

uint32_t FloatBits(float value) {
  uint32_t raw;
  std::memcpy(&raw, &value, sizeof raw);
  return raw;
}

}  // namespace

CRaltoController::CRaltoController(std::string id) : id_(std::move(id)) {
  for (RaltoAlarmRecord& alarm : alarms_) alarm.flags = kDefaultFlags;
}

void CRaltoController::Bind(const RaltoBlockDef& def, CRaltoAddressSpace& space, const FILETIME& now) {
  if (present_ && def == def_) return;
  Unbind(space);
  def_ = def;
  present_ = true;
  digital_ = def.digital;
  bool wanted[2] = {def.hasAs, def.hasRs};
  for (int a = 0; a < 2; ++a) {
    if (!wanted[a]) continue;
    std::string word = id_ + kWordSuffix[a];
    alarmItems_[a].word = space.Add(word, VT_UI4, OPC_READABLE);
    // A bit alarm block's rate-of-change word has no event times.
    if (a == kRateOfChange && digital_) continue;
    for (int i = 0; i < 4; ++i) {
      alarmItems_[a].elements[i] =
          space.Add(word + "[" + std::to_string(i + 1) + "]", VT_UI4, OPC_READABLE);
    }
  }
  if (def.hasFc) fc_ = space.Add(id_ + ".FC", VT_I4, OPC_READABLE | OPC_WRITEABLE);
  if (def.hasPi) pi_ = space.Add(id_ + ".PI", VT_R4, OPC_READABLE);
  if (def.hasSt) st_ = space.Add(id_ + ".ST", VT_UI2, OPC_READABLE);
  if (fc_ != kNoItem) space.Publish(fc_, static_cast<uint32_t>(fcValue_), now);
  PublishValues(now, space);
  for (int a = 0; a < 2; ++a) PublishAlarm(a, now, space, false);
}

void CRaltoController::Unbind(CRaltoAddressSpace& space) {
  ForEachItem([&](uint32_t index) { space.Remove(index); });
  alarmItems_[0] = alarmItems_[1] = AlarmItems{};
  fc_ = pi_ = st_ = kNoItem;
  pending_[0] = pending_[1] = false;
  present_ = false;
}

void CRaltoController::ForEachItem(const std::function<void(uint32_t)>& f) const {
  for (const AlarmItems& items : alarmItems_) {
    if (items.word != kNoItem) f(items.word);
    for (uint32_t element : items.elements) {
      if (element != kNoItem) f(element);
    }
  }
  for (uint32_t index : {fc_, pi_, st_}) {
    if (index != kNoItem) f(index);
  }
}

int CRaltoController::AlarmOfWord(uint32_t index) const {
  if (index == kNoItem) return -1;
  if (index == alarmItems_[kLevel].word) return kLevel;
  if (index == alarmItems_[kRateOfChange].word) return kRateOfChange;
  return -1;
}

RaltoAlarmSetting CRaltoController::AlarmSetting(int alarm) const {
  const RaltoAlarmRecord& record = alarms_[alarm];
  RaltoAlarmSetting setting;
  setting.state = record.state;
  setting.acknowledged = record.acknowledged;
  setting.flags = record.flags;
  setting.activation = UtcFromControllerTime(record.activation);
  setting.acknowledgement = UtcFromControllerTime(record.acknowledgement);
  setting.returnToNormal = UtcFromControllerTime(record.returnToNormal);
  return setting;
}

void CRaltoController::SetProcessValue(double value) {
  if (digital_) {
    input_ = value != 0;
  } else {
    value_ = static_cast<float>(value);
  }
}

void CRaltoController::RandomChange(std::mt19937& random) {
  if (digital_) {
    input_ = std::uniform_int_distribution<int>(0, 3)(random) == 0;
    return;
  }
  float next = value_ + std::uniform_real_distribution<float>(-15, 15)(random);
  if (next < 0) next = -next;
  if (next > 100) next = 200 - next;
  value_ = std::clamp(next, 0.0f, 100.0f);
}

uint32_t CRaltoController::LevelState() const {
  if (value_ >= kHiHi) return 4;
  if (value_ >= kHi) return 3;
  if (value_ <= kLoLo) return 1;
  if (value_ <= kLo) return 2;
  return 0;
}

uint32_t CRaltoController::StatusWord() const {
  // Bit 1: the input (O0D) or "a level alarm is on" (O0C).
  bool on = digital_ ? input_ : LevelState() != 0;
  return on ? 0x0002u : 0u;
}

bool CRaltoController::Scan(const FILETIME& now, uint64_t dtMs, CRaltoAddressSpace& space,
                            bool incoherent) {
  PublishValues(now, space);
  if (digital_) {
    Transition(kLevel, input_ ? 1 : 0, now, space, incoherent);
    return false;
  }
  Transition(kLevel, static_cast<uint8_t>(LevelState()), now, space, incoherent);
  bool rocActive = false;
  if (alarmItems_[kRateOfChange].word != kNoItem) {
    double seconds = std::max<double>(double(dtMs) / 1000.0, 1.0);
    double rate = (double(value_) - double(scanValue_)) / seconds;
    uint8_t state = rate > kRatePerSecond ? 2 : (rate < -kRatePerSecond ? 1 : 0);
    Transition(kRateOfChange, state, now, space, incoherent);
    rocActive = state != 0;
  }
  scanValue_ = value_;
  return rocActive;
}

void CRaltoController::Transition(int alarm, uint8_t state, const FILETIME& now,
                                  CRaltoAddressSpace& space, bool incoherent) {
  RaltoAlarmRecord& record = alarms_[alarm];
  if (record.state == state) return;
  RaltoControllerTime time = ControllerTimeFromUtc(now);
  record.state = state;
  if (state != 0) {
    record.acknowledged = false;
    record.activation = time;
    record.acknowledgement = {};
    record.returnToNormal = {};
  } else {
    record.returnToNormal = time;
  }
  PublishAlarm(alarm, now, space, incoherent);
}

bool CRaltoController::ValidState(int alarm, BYTE state) const {
  if (alarm == kRateOfChange) return state <= 3;
  return state <= (digital_ ? 1 : 7);
}

void CRaltoController::SetAlarm(int alarm, const RaltoAlarmSetting& setting, const FILETIME& now,
                                CRaltoAddressSpace& space, bool incoherent) {
  RaltoAlarmRecord& record = alarms_[alarm];
  record.state = setting.state;
  record.acknowledged = setting.acknowledged != false;
  record.flags = setting.flags;
  record.activation = ControllerTimeFromUtc(setting.activation);
  record.acknowledgement = ControllerTimeFromUtc(setting.acknowledgement);
  record.returnToNormal = ControllerTimeFromUtc(setting.returnToNormal);
  PublishAlarm(alarm, now, space, incoherent);
}

void CRaltoController::Acknowledge(int alarm, const FILETIME& now, CRaltoAddressSpace& space,
                                   bool incoherent) {
  RaltoAlarmRecord& record = alarms_[alarm];
  if (alarmItems_[alarm].word == kNoItem || record.acknowledged) return;
  record.acknowledged = true;
  record.acknowledgement = ControllerTimeFromUtc(now);
  PublishAlarm(alarm, now, space, incoherent);
}

void CRaltoController::Clear(int alarm, const FILETIME& now, CRaltoAddressSpace& space, bool incoherent) {
  if (alarmItems_[alarm].word == kNoItem) return;
  Transition(alarm, 0, now, space, incoherent);
}

void CRaltoController::StoreFc(LONG value, const FILETIME& now, CRaltoAddressSpace& space) {
  fcValue_ = value;
  if (fc_ != kNoItem) space.Publish(fc_, static_cast<uint32_t>(value), now);
}

void CRaltoController::ApplyPendingElements(const FILETIME& now, CRaltoAddressSpace& space) {
  for (int a = 0; a < 2; ++a) {
    if (!pending_[a]) continue;
    pending_[a] = false;
    for (int i = 0; i < 4; ++i) {
      uint32_t element = alarmItems_[a].elements[i];
      if (element != kNoItem) space.Publish(element, pendingValues_[a][i], now);
    }
  }
}

void CRaltoController::PublishAlarm(int alarm, const FILETIME& now, CRaltoAddressSpace& space,
                                    bool incoherent) {
  const AlarmItems& items = alarmItems_[alarm];
  if (items.word == kNoItem) return;
  std::array<uint32_t, 5> words = EncodeAlarmStateArray(alarms_[alarm]);
  space.Publish(items.word, words[0], now);
  bool hasElements = items.elements[0] != kNoItem;
  if (incoherent && hasElements) {
    pending_[alarm] = true;
    std::copy(words.begin() + 1, words.end(), pendingValues_[alarm].begin());
    return;
  }
  pending_[alarm] = false;
  for (int i = 0; i < 4; ++i) {
    if (items.elements[i] != kNoItem) space.Publish(items.elements[i], words[i + 1], now);
  }
}

void CRaltoController::PublishValues(const FILETIME& now, CRaltoAddressSpace& space) {
  if (pi_ != kNoItem) space.Publish(pi_, FloatBits(value_), now);
  if (st_ != kNoItem) space.Publish(st_, StatusWord(), now);
}
