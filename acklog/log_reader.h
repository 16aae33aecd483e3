// Reading the records of a log folder for the comments viewer and aelog.
//
// Files: every file (not folder) of the folder whose name matches
// "AESERVLOG_*.xml" (cache, daily and backup files alike), in the order the
// folder listing gives. A file that cannot be opened (held by a writer,
// unreadable) or does not parse is skipped; one whose last write a crash
// cut short gives its intact records.
//
// Threads: any thread; the caller owns `records` and `progress` is shared.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/progress_handle.h"

// The viewer's filter rules.
struct LogFilter {
  // A record passes unless `from` is later than its time or `to` earlier;
  // a comparison with a time that is not valid counts as false, so null
  // bounds and records without a readable time always pass.
  CDateTime from;
  CDateTime to;
  // Empty: every area; else the record's area must be one of these (exact).
  std::set<std::string> areas;

  bool Passes(const AckRecord& record) const;
};

// The full paths of the files of `directory` whose names match the shell
// pattern `pattern`, folders left out, in listing order. Empty when the
// folder cannot be listed.
std::vector<std::string> ListLogFiles(const std::string& directory, const char* pattern);

// Appends to `records` every record of the log files of `directory` that
// passes `filter`. Progress: range 100 x files + 100; position 100 at the
// start, each file's base + 100 x i / n while reading its record i of n,
// base + 100 when the file is done. Stops early once !progress.KeepGoing().
// `seen`, when set, is called with every record read, before filtering.
void ReadLogRecords(const std::string& directory, const LogFilter& filter, std::vector<AckRecord>& records,
                    ProgressHandle& progress, const std::function<void(const AckRecord&)>& seen = {});
