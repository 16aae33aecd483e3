// The holder record shared by the tracked locks: which source file and line
// hold the lock, kept so that a thread waiting too long can say where the
// lock was taken.
//
// Thread safety: the fields are written only by the holder, right after it
// acquires and right before it releases; any thread may read them at any
// time. A reader racing a change may see the file of one holder with the
// line of another: the record is diagnostic only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The acquiring statement's site, as call sites pass it.
#define AE_SITE __FILE_NAME__, __LINE__

class TrackedLockRecord {
 public:
  TrackedLockRecord() = default;
  TrackedLockRecord(const TrackedLockRecord&) = delete;
  TrackedLockRecord& operator=(const TrackedLockRecord&) = delete;

  // The holder's file ("" when free) and line (0 when free).
  std::string HolderFile() const;
  int32_t HolderLine() const;

 protected:
  // REQUIRES: `file` has static storage duration (the compiler's file name).
  void SetHolder(const char* file, int32_t line);
  void ClearHolder();

 private:
  std::atomic<const char*> file_{nullptr};
  std::atomic<int32_t> line_{0};
};
