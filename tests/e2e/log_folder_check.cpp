#include "log_folder_check.h"

#include <cstring>
#include <filesystem>

#include "acklog/log_document.h"
#include "acklog/log_reader.h"

namespace {

constexpr const char* kFields[] = {"AckTimeStamp", "Area",    "Target",             "Variable",
                                   "AEServer",     "Operator", "Message",           "AcknowledgeComment",
                                   "Condition",    "SubCondition", "Result"};
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

// The record's child elements are exactly the eleven fields, in order.
bool Whole(const CXmlNode& node) {
  size_t i = 0;
  for (CXmlNode child = node.FirstChildElement(); child; child = child.NextSiblingElement(), ++i) {
    if (i >= kFieldCount || std::strcmp(child.Name(), kFields[i]) != 0) return false;
  }
  return i == kFieldCount;
}

}  // namespace

LogFolderContent ReadLogFolder(const std::string& folder) {
  LogFolderContent content;
  for (const std::string& path : ListLogFiles(folder, "AESERVLOG_*.xml")) {
    const std::string name = std::filesystem::path(path).filename().string();
    CLogFile file;
    std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, false, false, file);
    file.Close();
    if (!doc) {
      // An empty file reads as no document too, and holds nothing to lose.
      std::error_code ec;
      if (std::filesystem::file_size(path, ec) != 0 || ec) content.problems.push_back(name + ": unreadable");
      continue;
    }
    size_t index = 0;
    for (const CXmlNode& node : SelectRecords(*doc)) {
      LogRecordInFile& entry = content.records.emplace_back();
      entry.file = name;
      ReadRecord(node, entry.record);
      if (!Whole(node) || !entry.record.ackTime.IsValid() || entry.record.comment.empty()) {
        content.problems.push_back(name + ": record " + std::to_string(index) + " is torn");
      }
      ++index;
    }
  }
  return content;
}
