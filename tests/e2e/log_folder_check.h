// Reading an acknowledgement log folder as its readers do, for checks
// after a fault: every "AESERVLOG_*.xml" file must open and parse through
// the log's own reader (which reads a file whose last write a crash cut
// short as its intact records), and every record must be whole: all eleven
// fields, a time that parses, a comment.
#pragma once

#include <string>
#include <vector>

#include "acklog/ack_record.h"

struct LogRecordInFile {
  std::string file;  // the file's name, without the folder
  AckRecord record;
};

struct LogFolderContent {
  std::vector<LogRecordInFile> records;  // in listing order, then document order
  std::vector<std::string> problems;     // one text per unreadable file or torn record
};

// REQUIRES: nobody writes the folder meanwhile (the server has ended).
LogFolderContent ReadLogFolder(const std::string& folder);
