#include "acklog/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/debug.h"

namespace {

// A file replaced by another writer between our open and our lock is
// re-opened; more than a few such races in a row means something is wrong.
constexpr int kOpenAttempts = 8;

bool LockWhole(int fd, bool exclusive) {
  struct flock lock = {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool WriteAll(int fd, std::string_view bytes, uint64_t offset) {
  while (!bytes.empty()) {
    ssize_t n = pwrite(fd, bytes.data(), bytes.size(), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(size_t(n));
    offset += uint64_t(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// The temporary file of a replacement of `path`: hidden, beside it.
std::string TempPathOf(const std::string& path) {
  std::filesystem::path target(path);
  return (target.parent_path() / ("." + target.filename().string() + ".tmp")).string();
}

bool SyncFolderOf(const std::string& path) {
  int dfd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  bool ok = fsync(dfd) == 0;
  close(dfd);
  return ok;
}

// True while a replacement of `path` holds its temporary file: it has
// closed the file and is about to rename over it.
bool ReplacementUnderway(const std::string& path) {
  int tfd = open(TempPathOf(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (tfd < 0) return false;  // none (or not ours to see)
  struct flock probe = {};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  bool held = fcntl(tfd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  close(tfd);
  return held;
}

// Keeps errno across clean-up calls that may change it.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

}  // namespace

bool CLogFile::Open(const std::string& path, bool writable) {
  Close();
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    bool created = false;
    int fd = -1;
    if (writable) {
      fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    } else {
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return false;
    struct stat locked, named;
    if (!LockWhole(fd, writable) || fstat(fd, &locked) != 0 || S_ISDIR(locked.st_mode)) {
      ErrnoKeeper keep;
      close(fd);
      return false;
    }
    // Checked after locking and before the name: a replacement that has
    // closed this inode either still holds its temporary file (we see it
    // here) or has renamed it (the name check below sees that).
    if (ReplacementUnderway(path)) {
      close(fd);
      errno = EAGAIN;  // as for a conflicting lock
      return false;
    }
    if (stat(path.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
        named.st_ino == locked.st_ino) {
      fd_ = fd;
      writable_ = writable;
      created_ = created;
      path_ = path;
      return true;
    }
    // Replaced (or removed) while we were locking it: the lock guards a
    // stale inode, so start again with whatever the path names now.
    close(fd);
  }
  errno = EAGAIN;
  return false;
}

void CLogFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  writable_ = false;
  created_ = false;
  path_.clear();
}

bool CLogFile::Size(uint64_t& size) const {
  struct stat st;
  if (fstat(fd_, &st) != 0) return false;
  size = uint64_t(st.st_size);
  return true;
}

bool CLogFile::GetStamp(Stamp& stamp) const {
  struct stat st;
  if (fstat(fd_, &st) != 0) return false;
  stamp.device = uint64_t(st.st_dev);
  stamp.inode = uint64_t(st.st_ino);
  stamp.size = uint64_t(st.st_size);
  stamp.changedNs = int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  return true;
}

bool CLogFile::ReadAll(std::string& bytes) const {
  bytes.clear();
  uint64_t size = 0;
  if (Size(size)) bytes.reserve(size_t(size));
  char buffer[65536];
  for (uint64_t offset = 0;;) {
    ssize_t n = pread(fd_, buffer, sizeof buffer, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buffer, size_t(n));
    offset += uint64_t(n);
  }
}

bool CLogFile::ReadAt(uint64_t offset, size_t length, std::string& bytes) const {
  bytes.assign(length, '\0');
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd_, bytes.data() + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += size_t(n);
  }
  bytes.resize(done);
  return true;
}

bool CLogFile::WriteTail(uint64_t offset, std::string_view bytes) {
  uint64_t oldSize = 0;
  std::string oldTail;
  uint64_t newSize = offset + bytes.size();
  if (!Size(oldSize) || offset > oldSize || newSize < oldSize ||
      !ReadAt(offset, size_t(oldSize - offset), oldTail))
    return false;
  // Reserve the new blocks first: a full disk then fails here, before a
  // single byte has changed. Filesystems without reservation skip it.
  if (newSize > oldSize &&
      fallocate(fd_, FALLOC_FL_KEEP_SIZE, off_t(oldSize), off_t(newSize - oldSize)) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    return false;
  bool ok = WriteAll(fd_, bytes, offset) && fdatasync(fd_) == 0 && SyncFolder();
  if (!ok) {
    // Put the old end back: it overwrites blocks the file already had, and
    // shrinking never needs space.
    ErrnoKeeper keep;
    WriteAll(fd_, oldTail, offset);
    if (ftruncate(fd_, off_t(oldSize)) == 0) fdatasync(fd_);
  }
  return ok;
}

bool CLogFile::ReplaceAndClose(std::string_view bytes) {
  const std::string path = path_;
  const std::string temp = TempPathOf(path);
  struct stat st;
  mode_t mode = fstat(fd_, &st) == 0 ? (st.st_mode & 07777) : 0666;
  // Only the holder of the file's exclusive lock writes its temporary file,
  // so a fixed name is safe; one left by a crash is simply reused.
  int tfd = open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool locked = tfd >= 0 && LockWhole(tfd, true);
  bool written = locked && fchmod(tfd, mode) == 0 && WriteAll(tfd, bytes, 0) && fdatasync(tfd) == 0;
  if (!written) {
    ErrnoKeeper keep;
    if (locked) unlink(temp.c_str());
    if (tfd >= 0) close(tfd);
    Close();
    return false;
  }
  // Closed before the rename, which some network file systems refuse over
  // an open file. From here the temporary file's lock keeps others out
  // (Open), and once renamed it is the file's lock until tfd is closed.
  Close();
  if (rename(temp.c_str(), path.c_str()) != 0) {
    ErrnoKeeper keep;
    unlink(temp.c_str());
    close(tfd);
    return false;
  }
  // Saved: the new content is in place. A folder that cannot be synced
  // only leaves the rename less durable; saving again would change nothing.
  if (!SyncFolderOf(path)) DebugOutput("Couldn't sync the folder of replaced file: " + path + "\n");
  close(tfd);
  return true;
}

bool CLogFile::SyncFolder() {
  if (!created_) return true;
  if (!SyncFolderOf(path_)) return false;
  created_ = false;
  return true;
}
