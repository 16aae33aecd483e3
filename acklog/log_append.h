// The writer's append: one record onto the end of a log file, in place.
//
// Appending through the document (parse, add, rewrite) costs time in
// proportion to the file, and cache files grow without bound while no
// remote directory is set. A file in the layout this server writes
// (log_layout.h) instead takes the record by one write over its closing
// tag: the record's bytes, a line feed and the closing tag again, exactly
// the bytes the document route would produce. The write is synced before
// success is reported; if it fails (disk full) the old closing tag is put
// back, and if the process dies in it, readers and the next writer see the
// file without the unfinished record (log_layout.h). Head and tail alone
// do not make a file in this layout: the first append of a process to a
// file, and the first after someone else changed it, reads the whole file
// and takes the in-place route only when it parses (later ones go at once
// while the file is as this process left it). A file in any other layout
// (written elsewhere, cut short, or damaged) goes the document route, which
// rewrites it in this layout or refuses it.
//
// Threads: any thread, one file object at a time.
#pragma once

#include "acklog/ack_record.h"
#include "acklog/log_file.h"

enum class AppendOutcome {
  kSaved,     // the record is in the file, durably
  kUnusable,  // not a log file that can take records; reported, untouched
  kFailed,    // writing failed; the file is as it was
};

// Appends `record` to the file open for writing in `file`, then closes it.
// REQUIRES: file.IsWritable().
AppendOutcome AppendRecordToLogFile(CLogFile& file, const AckRecord& record);
