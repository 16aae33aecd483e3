// StoreLock: an exclusive lock, across threads and processes, over a
// read-modify-write of shared state in the registry store (the service
// database, the pending file renames), which the store makes atomic only
// call by call.
//
// Contract: the constructor blocks until the lock named `name` is held;
// the destructor releases it. The lock is an flock on the file
// "<name>.lock" in RegistryDirectory(), which is created when missing;
// should that fail, the lock is not held (Held() false) and the caller
// goes on unlocked, as a store that cannot be opened fails the calls
// anyway. Any thread; a thread must not take the same lock twice.
#pragma once

#include <string>

class StoreLock {
 public:
  explicit StoreLock(const std::string& name);
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  ~StoreLock();

  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
