#include "alarmconfig/tracked_mutex.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/debug.h"

TrackedMutex g_ConfigMutex;

namespace {

timespec DeadlineAfter(std::chrono::milliseconds ms) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  long long ns = ts.tv_nsec + (ms.count() % 1000) * 1000000LL;
  ts.tv_sec += ms.count() / 1000 + ns / 1000000000LL;
  ts.tv_nsec = ns % 1000000000LL;
  return ts;
}

}  // namespace

TrackedMutex::TrackedMutex(std::chrono::milliseconds slice) : slice_(slice) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  // Robust, so that a holder thread that ended does not lock everyone out.
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&mutex_, &attr);
  pthread_mutexattr_destroy(&attr);
}

TrackedMutex::~TrackedMutex() { pthread_mutex_destroy(&mutex_); }

void TrackedMutex::Acquire(const char* file, int32_t line) {
  for (;;) {
    auto started = std::chrono::steady_clock::now();
    timespec deadline = DeadlineAfter(slice_);
    int rc = pthread_mutex_timedlock(&mutex_, &deadline);
    if (rc == EOWNERDEAD) {
      pthread_mutex_consistent(&mutex_);
      rc = 0;
    }
    if (rc == 0) {
      SetHolder(file, line);
      return;
    }
    char text[512];
    std::snprintf(text, sizeof text, "Potential mutex deadlock at %s (%d), Mutex locked by %s (%d)\n", file, line,
                  HolderFile().c_str(), HolderLine());
    DebugOutput(text);
    // A wait that failed early must not turn the loop into a busy one.
    if (rc != ETIMEDOUT) std::this_thread::sleep_until(started + slice_);
  }
}

void TrackedMutex::Release() {
  ClearHolder();
  pthread_mutex_unlock(&mutex_);
}

TrackedMutexGuard::TrackedMutexGuard(TrackedMutex& mutex, const char* file, int32_t line) : mutex_(mutex) {
  mutex_.Acquire(file, line);
}

TrackedMutexGuard::~TrackedMutexGuard() { mutex_.Release(); }
