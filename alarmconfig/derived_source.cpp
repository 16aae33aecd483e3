#include "alarmconfig/derived_source.h"

#include <mutex>

namespace {

// The vendor attribute pair of each kind's event category.
std::vector<DWORD> AttributeSlots(AlarmKind kind) {
  switch (kind) {
    case kAlarmLevel: return {0, 1};
    case kAlarmRateOfChange: return {4, 5};
    case kAlarmBit: return {2, 3};
    default: return {};
  }
}

}  // namespace

CDerivedSource::CDerivedSource(std::string name, AlarmKind kind, uint32_t headerValue2,
                               uint32_t headerValue3, AlarmVar* variable)
    : CAESource(std::move(name), 1),
      attributeIds_(AttributeSlots(kind)),
      attributeValues_(attributeIds_.size()),
      kind_(kind),
      headerValue2_(headerValue2),
      headerValue3_(headerValue3),
      variable_(variable) {}

CDerivedSource::~CDerivedSource() { variable_ = nullptr; }

bool CDerivedSource::SetAttributeValue(DWORD id, const VARIANT& value) {
  std::lock_guard lock(*this);
  for (size_t i = 0; i < attributeIds_.size(); ++i) {
    if (attributeIds_[i] == id) {
      attributeValues_[i] = value;
      return true;
    }
  }
  return false;
}

bool CDerivedSource::GetAttributeValue(DWORD id, VARIANT& out) {
  std::lock_guard lock(*this);
  for (size_t i = 0; i < attributeIds_.size(); ++i) {
    if (attributeIds_[i] == id) {
      out = attributeValues_[i];
      return true;
    }
  }
  return false;
}

std::vector<DWORD> CDerivedSource::AttributeIds() {
  std::lock_guard lock(*this);
  return attributeIds_;
}

uint32_t CDerivedSource::HeaderValue3() {
  std::lock_guard lock(*this);
  return headerValue3_;
}

void CDerivedSource::SetHeaderValue3(uint32_t value) {
  std::lock_guard lock(*this);
  headerValue3_ = value;
}

AlarmVar* CDerivedSource::Variable() {
  std::lock_guard lock(*this);
  return variable_;
}

void CDerivedSource::SetVariable(AlarmVar* variable) {
  std::lock_guard lock(*this);
  variable_ = variable;
}

BYTE CDerivedSource::StateFlags() {
  std::lock_guard lock(*this);
  return stateFlags_;
}

void CDerivedSource::SetStateFlags(BYTE flags) {
  std::lock_guard lock(*this);
  stateFlags_ = flags;
}

FILETIME CDerivedSource::LastActiveTime() {
  std::lock_guard lock(*this);
  return lastActiveTime_;
}

void CDerivedSource::SetLastActiveTime(const FILETIME& time) {
  std::lock_guard lock(*this);
  lastActiveTime_ = time;
}
