#include "fuzz/support/fuzz_log_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "acklog/log_reader.h"

namespace {

constexpr char kLogFileName[] = "AESERVLOG_2024-05-01.xml";

}  // namespace

std::string LogFolder(const std::string& role) {
  std::filesystem::path folder = std::filesystem::temp_directory_path() / role;
  std::filesystem::create_directories(folder);
  return folder.string();
}

std::string WriteLogFile(const std::string& folder, std::string_view bytes) {
  std::string path = folder + "/" + kLogFileName;
  // A new file, as another writer's would be, not this one rewritten.
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<AckRecord> ReadFolder(const std::string& folder) {
  std::vector<AckRecord> records;
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  ReadLogRecords(folder, LogFilter{}, records, *progress.Get());
  return records;
}

bool SameRecord(const AckRecord& a, const AckRecord& b) {
  return a.ackTime == b.ackTime && a.area == b.area && a.target == b.target && a.variable == b.variable &&
         a.operatorName == b.operatorName && a.comment == b.comment && a.message == b.message &&
         a.condition == b.condition && a.subcondition == b.subcondition && a.server == b.server &&
         a.result == b.result;
}

bool SameRecords(const std::vector<AckRecord>& a, const std::vector<AckRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameRecord(a[i], b[i])) return false;
  return true;
}

const AckRecord& AppendedRecord() {
  static const AckRecord record = [] {
    AckRecord r;
    r.ackTime = CDateTime::FromParts(2024, 5, 1, 13, 7, 42);
    r.area = "Tank_Farm/T-101";
    r.target = "TANKFARM";
    r.variable = "LIC101.AS";
    r.operatorName = "operator";
    r.comment = "Füllstand geprüft <ok> & \"quittiert\"";
    r.message = "T-101 level 50.00 % HiHi";
    r.condition = "Level";
    r.subcondition = "HiHi";
    r.server = "PLANTPC1";
    r.result = "Success";
    return r;
  }();
  return record;
}
