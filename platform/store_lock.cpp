#include "platform/store_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "platform/registry.h"

StoreLock::StoreLock(const std::string& name) {
  std::error_code ec;
  std::filesystem::create_directories(RegistryDirectory(), ec);
  std::string file = RegistryDirectory() + "/" + name + ".lock";
  fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A reader without write access to the store locks through a read-only
  // open (flock needs no more).
  if (fd_ < 0) fd_ = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  // Each StoreLock has an open file description of its own, so the lock
  // also keeps out other threads of this process.
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd_);
      fd_ = -1;
      return;
    }
  }
}

StoreLock::~StoreLock() {
  if (fd_ >= 0) close(fd_);
}
