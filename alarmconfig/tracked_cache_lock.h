// Tracked wrappers of the toolkit's own locks: the source cache's lock
// (g_CacheLock) and one source's lock. They block as long as the toolkit's
// lock blocks and do not report; they record the holder's site like
// TrackedMutex does. Taken only through their guards, in the order
// g_ConfigMutex, g_CacheLock, source lock.
#pragma once

#include <cstdint>

#include "alarmconfig/tracked_lock_record.h"

class CAESource;
class CAESourceCache;

class TrackedCacheLock : public TrackedLockRecord {
 public:
  explicit TrackedCacheLock(CAESourceCache* cache) : cache_(cache) {}
  CAESourceCache* Cache() const { return cache_; }

 private:
  friend class TrackedCacheGuard;
  CAESourceCache* cache_;
};

class TrackedCacheGuard {
 public:
  // REQUIRES: `file` has static storage duration (pass AE_SITE).
  TrackedCacheGuard(TrackedCacheLock& lock, const char* file, int32_t line);
  ~TrackedCacheGuard();
  TrackedCacheGuard(const TrackedCacheGuard&) = delete;
  TrackedCacheGuard& operator=(const TrackedCacheGuard&) = delete;

 private:
  TrackedCacheLock& lock_;
};

// A record for one source's lock, built on the stack where it is needed.
class TrackedSourceLock : public TrackedLockRecord {
 public:
  explicit TrackedSourceLock(CAESource* source) : source_(source) {}
  CAESource* Source() const { return source_; }

 private:
  friend class TrackedSourceGuard;
  CAESource* source_;
};

class TrackedSourceGuard {
 public:
  // REQUIRES: the record's source is alive for the guard's life.
  TrackedSourceGuard(TrackedSourceLock& lock, const char* file, int32_t line);
  ~TrackedSourceGuard();
  TrackedSourceGuard(const TrackedSourceGuard&) = delete;
  TrackedSourceGuard& operator=(const TrackedSourceGuard&) = delete;

 private:
  TrackedSourceLock& lock_;
};

// The toolkit's source cache lock, bound to g_SourceCache.
extern TrackedCacheLock g_CacheLock;
