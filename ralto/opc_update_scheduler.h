// The update cycles of every group of the process: one thread that runs
// each active group's DeliverChanges at the group's update rate, or, in
// manual mode, nothing until TickAll.
//
// Contract: groups register at construction and unregister in their
// destructor; the scheduler holds no reference between cycles and takes one
// (TryAddRef) for the length of a cycle, so a group whose last reference is
// going is skipped, and a group released during its own cycle is deleted on
// this thread after it. No lock is held while a group delivers. The thread
// starts with the first registration and ends with the process. Every
// member is thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/com.h"

class CRaltoOpcGroup;

class CRaltoUpdateScheduler {
 public:
  static CRaltoUpdateScheduler& Instance();

  CRaltoUpdateScheduler(const CRaltoUpdateScheduler&) = delete;
  CRaltoUpdateScheduler& operator=(const CRaltoUpdateScheduler&) = delete;
  ~CRaltoUpdateScheduler();

  void Register(CRaltoOpcGroup* group, DWORD rateMs, bool active);
  // A group that turns active has its first cycle one rate from now.
  void Update(CRaltoOpcGroup* group, DWORD rateMs, bool active);
  void Unregister(CRaltoOpcGroup* group);

  void SetManual(bool on);
  // One cycle of every active group, on the caller's thread.
  void TickAll();

 private:
  struct Entry {
    DWORD rateMs = 0;
    bool active = false;
    uint64_t dueMs = 0;
  };

  CRaltoUpdateScheduler() = default;

  // Groups with a reference taken. REQUIRES: mutex_ held.
  std::vector<CRaltoOpcGroup*> Collect(bool dueOnly, uint64_t nowMs, uint64_t* nextMs);
  static void Deliver(const std::vector<CRaltoOpcGroup*>& groups);
  void ThreadMain();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::unordered_map<CRaltoOpcGroup*, Entry> groups_;
  bool manual_ = false;
  bool stop_ = false;
  std::thread thread_;
};
