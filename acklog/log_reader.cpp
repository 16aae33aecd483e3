#include "acklog/log_reader.h"

#include <fnmatch.h>

#include <filesystem>

#include "acklog/log_document.h"
#include "platform/path_text.h"

bool LogFilter::Passes(const AckRecord& record) const {
  if (!areas.empty() && !areas.count(record.area)) return false;
  return !from.IsAfter(record.ackTime) && !to.IsBefore(record.ackTime);
}

std::vector<std::string> ListLogFiles(const std::string& directory, const char* pattern) {
  std::vector<std::string> paths;
  std::error_code ec;
  std::filesystem::directory_iterator it(directory.empty() ? "." : directory, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code typeError;
    if (it->is_directory(typeError) || fnmatch(pattern, name.c_str(), 0) != 0) continue;
    paths.push_back(EnsureTrailingBackslash(directory) + name);
  }
  return paths;
}

void ReadLogRecords(const std::string& directory, const LogFilter& filter, std::vector<AckRecord>& records,
                    ProgressHandle& progress, const std::function<void(const AckRecord&)>& seen) {
  std::vector<std::string> files = ListLogFiles(directory, "AESERVLOG_*.xml");
  progress.SetRange(uint32_t(100 * files.size() + 100));
  progress.SetPosition(100);
  for (const std::string& path : files) {
    if (!progress.KeepGoing()) return;
    uint32_t base = progress.Position();
    CLogFile file;
    std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, false, false, file);
    file.Close();
    if (doc && progress.KeepGoing()) {
      std::vector<CXmlNode> nodes = SelectRecords(*doc);
      for (size_t i = 0; i < nodes.size() && progress.KeepGoing(); ++i) {
        progress.SetPosition(base + uint32_t(i * 100 / nodes.size()));
        AckRecord record;
        ReadRecord(nodes[i], record);
        if (seen) seen(record);
        if (filter.Passes(record)) records.push_back(std::move(record));
      }
    }
    progress.SetPosition(base + 100);
  }
}
