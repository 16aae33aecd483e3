// The bytes of a log file as this server writes them, and how to tell a
// write that a crash cut short from a damaged file.
//
// Every log file written here is the serialiser's output of its document:
//   kLogHead, then per record "<AlarmRecord>" ... "</AlarmRecord>" and a
//   line feed, then kLogTail.
// A record is appended in place by writing, over kLogTail, the record, a
// line feed and kLogTail again (see log_append.h). If the process dies in
// the middle of that write, the file holds its old records followed by a
// prefix of those bytes, possibly with the end of the old kLogTail. Such a
// file is read as its intact records (the unfinished one, never reported as
// written, is dropped); anything else that does not parse is damage.
//
// Pure functions of their arguments; any thread.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::string_view kLogHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AlarmFile Version=\"1.0\">\n";
inline constexpr std::string_view kLogTail = "</AlarmFile>\n";

// True when `bytes` (which do not parse) are a log file whose last write was
// cut short. `keep` is then the length of the intact part: the file reads as
// its first `keep` bytes followed by kLogTail, or as an empty file when
// `keep` is 0 (the write that created it was cut short).
bool FindInterruptedWrite(std::string_view bytes, size_t& keep);
