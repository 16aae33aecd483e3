// Acknowledgement log files for the fuzz targets: one folder per role in
// the sandbox's temporary folder, holding one log file, read back as the
// comments viewer reads a folder.
//
// Threads: the fuzz target's thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "acklog/ack_record.h"

// "$TMPDIR/<role>", made when missing.
std::string LogFolder(const std::string& role);
// Replaces the folder's log file by a new one holding `bytes`; returns its
// path.
std::string WriteLogFile(const std::string& folder, std::string_view bytes);
// The bytes of the file at `path` ("" when it cannot be read).
std::string ReadBytes(const std::string& path);
// Every record of the folder's log files, unfiltered (ReadLogRecords).
std::vector<AckRecord> ReadFolder(const std::string& folder);

bool SameRecord(const AckRecord& a, const AckRecord& b);
bool SameRecords(const std::vector<AckRecord>& a, const std::vector<AckRecord>& b);

// The record the targets append: every field set, a non-ASCII comment.
// It reads back as itself.
const AckRecord& AppendedRecord();
