#include "alarmconfig/tracked_cache_lock.h"

#include "toolkit/source.h"
#include "toolkit/source_cache.h"

TrackedCacheLock g_CacheLock(&g_SourceCache);

TrackedCacheGuard::TrackedCacheGuard(TrackedCacheLock& lock, const char* file, int32_t line) : lock_(lock) {
  lock_.cache_->Lock();
  lock_.SetHolder(file, line);
}

TrackedCacheGuard::~TrackedCacheGuard() {
  lock_.ClearHolder();
  lock_.cache_->Unlock();
}

TrackedSourceGuard::TrackedSourceGuard(TrackedSourceLock& lock, const char* file, int32_t line) : lock_(lock) {
  lock_.source_->Lock();
  lock_.SetHolder(file, line);
}

TrackedSourceGuard::~TrackedSourceGuard() {
  lock_.ClearHolder();
  lock_.source_->Unlock();
}
