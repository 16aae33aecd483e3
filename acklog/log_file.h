// CLogFile: one acknowledgement log file, opened with the log's sharing
// rules and written so that a crash or a full disk never loses what the
// file held.
//
// Sharing (open-file-description locks, so threads of one process exclude
// each other as much as processes do): a read-only open takes a shared lock,
// so other readers are welcome and writers shut out; a writable open takes
// an exclusive lock and shuts out every other open. A conflicting open fails
// at once; that is how a writer sees that someone else holds a file.
//
// Writing: ReplaceAndClose writes a hidden temporary file beside the file
// and syncs it, closes the file (some network file systems refuse to
// rename over an open file) and renames the temporary file over it, then
// syncs the folder; the file always holds either the old or the new bytes.
// Between the close and the rename the temporary file's exclusive lock
// stands for the file's: an open that finds it held fails at once, as for
// a conflicting lock. WriteTail changes only the end of the file in place
// and syncs it; if anything fails the old end is put back. Because a
// replaced file is a new inode, Open checks after locking that the path
// still names the inode it locked, and retries if not.
//
// Threads: one object belongs to one thread at a time. Errors are reported
// as false; errno tells the cause.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CLogFile {
 public:
  CLogFile() = default;
  ~CLogFile() { Close(); }
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // Read-only: a missing file or a folder fails. Writable: read-write, the
  // file is created when missing and never truncated; its folder must exist.
  // False, and closed, when the file cannot be opened or another open holds
  // a conflicting lock. An open file is closed first.
  bool Open(const std::string& path, bool writable);
  // Closes without changing anything; harmless when closed.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  bool IsWritable() const { return writable_; }
  const std::string& Path() const { return path_; }

  // REQUIRES (all below): IsOpen().
  bool Size(uint64_t& size) const;
  // What tells the file's content as of now from any other: a file that
  // replaced it under the same name has another inode, and a write by
  // anyone changes the size or the change time.
  struct Stamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t changedNs = 0;  // status change time (not settable by users)
    friend bool operator==(const Stamp&, const Stamp&) = default;
  };
  bool GetStamp(Stamp& stamp) const;
  // The whole content, read up to the end of the file.
  bool ReadAll(std::string& bytes) const;
  // At most `length` bytes from `offset` (fewer at the end of the file).
  bool ReadAt(uint64_t offset, size_t length, std::string& bytes) const;

  // Makes the file's content its first `offset` bytes followed by `bytes`,
  // durably (data synced; the folder too when Open created the file). On
  // failure (disk full, I/O error) the file is left as it was and false is
  // returned. REQUIRES: IsWritable(); offset <= Size() <= offset +
  // bytes.size() (the file keeps or grows its length).
  bool WriteTail(uint64_t offset, std::string_view bytes);
  // Replaces the whole content with `bytes` atomically (see above) and
  // closes. True once the rename has put the new, synced content in place:
  // the save has happened, even if the folder sync after it fails (that
  // goes to the debugger output; a crash may then bring the old content
  // back). False when it has not: the file keeps its old content and
  // errno tells why. Closed either way.
  // REQUIRES: IsWritable().
  bool ReplaceAndClose(std::string_view bytes);

 private:
  // Makes a new folder entry durable (once).
  bool SyncFolder();

  int fd_ = -1;
  bool writable_ = false;
  bool created_ = false;  // the folder entry still needs a sync
  std::string path_;
};
