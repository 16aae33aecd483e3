// CAlarmDumpFile: the alarm processor's diagnostic text file ("AlarmSendOutFile"):
// opened for one pass, appended to (created when missing, never truncated),
// written as UTF-16LE without a byte-order mark.
//
// Contract: Open answers false, and the object stays closed, when the path
// is empty or the file cannot be opened; writes to a closed file do
// nothing. One thread at a time.
#pragma once

#include <cstdio>
#include <string>

class CAlarmDumpFile {
 public:
  CAlarmDumpFile() = default;
  ~CAlarmDumpFile() { Close(); }
  CAlarmDumpFile(const CAlarmDumpFile&) = delete;
  CAlarmDumpFile& operator=(const CAlarmDumpFile&) = delete;

  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Appends UTF-8 `text` as UTF-16LE.
  void Write(const std::string& text);
  void Close();

 private:
  std::FILE* file_ = nullptr;
};
