#include "alarmproc/alarm_dump_file.h"

#include "platform/utf.h"

bool CAlarmDumpFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  file_ = std::fopen(path.c_str(), "ab");
  return file_ != nullptr;
}

void CAlarmDumpFile::Write(const std::string& text) {
  if (!file_) return;
  std::string bytes = Utf8ToUtf16Le(text);
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
}

void CAlarmDumpFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}
