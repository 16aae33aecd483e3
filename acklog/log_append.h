// Appending records to a log file, in place where the file allows it.
//
// Appending through the document (parse, add, rewrite) costs time and
// memory in proportion to the file: cache files grow without bound while no
// remote directory is set, and a day's remote and backup files take every
// record of the day. A file in the layout this server writes
// (log_layout.h) instead takes records by one write over its closing tag:
// the records' bytes, each with its line feed, and the closing tag again,
// exactly the bytes the document route would produce. The write is synced
// before success is reported; if it fails (disk full) the old closing tag
// is put back, and if the process dies in it, readers and the next writer
// see the file without the unfinished records (log_layout.h). Head and tail
// alone do not make a file in this layout: the first append of a process to
// a file, and the first after someone else changed it, reads the whole file
// and takes the in-place route only when it parses (later ones go at once
// while the file is as this process left it). A file in any other layout
// (written elsewhere, cut short, or damaged) goes the document route, which
// rewrites it whole, atomically, in this layout, or refuses it.
//
// Threads: any thread, one file object at a time.
#pragma once

#include <memory>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/log_document.h"
#include "acklog/log_file.h"

enum class AppendOutcome {
  kSaved,     // the record is in the file, durably
  kUnusable,  // not a log file that can take records; reported, untouched
  kFailed,    // writing failed; the file is as it was
};

// The writer's append: `record` onto the file open for writing in `file`
// (an empty file is created in place), then closes it.
// REQUIRES: file.IsWritable().
AppendOutcome AppendRecordToLogFile(CLogFile& file, const AckRecord& record);

// Records appended to one log file in two steps, so that several files can
// be checked before any is written (the copy pass). An empty file is
// written whole, as a document.
class CLogAppender {
 public:
  enum class Check {
    kReady,
    kDamaged,  // does not parse (reported on the debugger output)
    kForeign,  // a document with another root element
  };

  // `file` is open for writing and stays the caller's object; Prepare or
  // Append closes it. REQUIRES: file.IsWritable().
  explicit CLogAppender(CLogFile& file) : file_(file) {}

  // Looks at the file: kReady when it can take records; otherwise the file
  // is closed, untouched.
  Check Prepare();
  // Appends `records` in order, durably, and closes the file. False when
  // writing failed: the file is as it was. REQUIRES: Prepare gave kReady.
  bool Append(const std::vector<AckRecord>& records);

 private:
  CLogFile& file_;
  uint64_t size_ = 0;
  std::unique_ptr<CLogDocument> doc_;  // null: appended in place
};
