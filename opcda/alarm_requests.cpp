#include "opcda/alarm_requests.h"

#include <algorithm>

C_Alarm_Requests alarmRequests;

namespace {

// The queue grows in steps of at least this many entries.
constexpr size_t kGrowthStep = 100;

}  // namespace

C_Alarm_Requests::C_Alarm_Requests() = default;

C_Alarm_Requests::~C_Alarm_Requests() = default;

void C_Alarm_Requests::Reserve(size_t n) {
  std::lock_guard guard(lock_);
  size_t needed = pending_.size() + n;
  if (needed <= pending_.capacity()) return;
  // Geometric growth, so that many small callbacks between two takes stay linear.
  pending_.reserve(std::max({needed, pending_.capacity() * 2, pending_.size() + kGrowthStep}));
}

void C_Alarm_Requests::Add(AlarmVar* variable) {
  std::lock_guard guard(lock_);
  pending_.push_back(variable);
}

void C_Alarm_Requests::Signal() {
  std::lock_guard guard(lock_);
  if (!pending_.empty()) readyEvent.Set();
}

int C_Alarm_Requests::TakeAll(std::vector<AlarmVar*>* destination) {
  if (!destination) return 0;
  std::lock_guard guard(lock_);
  if (destination->empty()) {
    destination->swap(pending_);
  } else {
    destination->insert(destination->end(), pending_.begin(), pending_.end());
  }
  pending_.clear();
  readyEvent.Reset();
  return 1;
}

void C_Alarm_Requests::Clear() {
  std::lock_guard guard(lock_);
  readyEvent.Reset();
  pending_.clear();
}

void C_Alarm_Requests::Forget(const std::unordered_set<const AlarmVar*>& variables) {
  if (variables.empty()) return;
  std::lock_guard guard(lock_);
  std::erase_if(pending_, [&](const AlarmVar* v) { return variables.contains(v); });
  if (pending_.empty()) readyEvent.Reset();
}

size_t C_Alarm_Requests::PendingCount() const {
  std::lock_guard guard(lock_);
  return pending_.size();
}
