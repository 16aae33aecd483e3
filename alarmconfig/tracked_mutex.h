// TrackedMutex: a recursive mutex that remembers where it is held and, while
// a thread waits for it, reports a potential deadlock to the debugger output
// once every slice (5000 ms unless told otherwise):
//   "Potential mutex deadlock at <file> (<line>), Mutex locked by <file> (<line>)\n"
// The waiter never gives up. A mutex left locked by a thread that ended
// counts as acquired.
//
// Locks are taken only through TrackedMutexGuard (a scope object: every path
// out of the scope releases). Lock order everywhere: g_ConfigMutex, then
// g_CacheLock, then a source lock; the acknowledgement log's mutex is never
// held together with g_ConfigMutex.
#pragma once

#include <pthread.h>

#include <chrono>
#include <cstdint>

#include "alarmconfig/tracked_lock_record.h"

class TrackedMutex : public TrackedLockRecord {
 public:
  explicit TrackedMutex(std::chrono::milliseconds slice = std::chrono::milliseconds(5000));
  ~TrackedMutex();

 private:
  friend class TrackedMutexGuard;
  void Acquire(const char* file, int32_t line);
  void Release();

  pthread_mutex_t mutex_;
  std::chrono::milliseconds slice_;
};

class TrackedMutexGuard {
 public:
  // Blocks until the mutex is held; recursive for the owning thread.
  // REQUIRES: `file` has static storage duration (pass AE_SITE).
  TrackedMutexGuard(TrackedMutex& mutex, const char* file, int32_t line);
  ~TrackedMutexGuard();
  TrackedMutexGuard(const TrackedMutexGuard&) = delete;
  TrackedMutexGuard& operator=(const TrackedMutexGuard&) = delete;

 private:
  TrackedMutex& mutex_;
};

// Guards the OPC DA connection's client and the alarm sources as a whole.
extern TrackedMutex g_ConfigMutex;
