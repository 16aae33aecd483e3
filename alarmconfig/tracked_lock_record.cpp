#include "alarmconfig/tracked_lock_record.h"

std::string TrackedLockRecord::HolderFile() const {
  const char* file = file_.load(std::memory_order_acquire);
  return file ? file : "";
}

int32_t TrackedLockRecord::HolderLine() const { return line_.load(std::memory_order_acquire); }

void TrackedLockRecord::SetHolder(const char* file, int32_t line) {
  file_.store(file, std::memory_order_release);
  line_.store(line, std::memory_order_release);
}

void TrackedLockRecord::ClearHolder() {
  file_.store(nullptr, std::memory_order_release);
  line_.store(0, std::memory_order_release);
}
