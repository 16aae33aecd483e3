#include "acklog/log_append.h"

#include "acklog/log_document.h"
#include "acklog/log_layout.h"
#include "platform/debug.h"

namespace {

// The bytes of a new file holding only `record`: kLogHead, the record, a
// line feed, kLogTail. Built by the document code itself so that both
// routes write the same bytes. Empty if the serialiser ever disagrees
// with the layout.
std::string NewFileBytes(const AckRecord& record) {
  std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
  if (!doc || !AppendRecord(*doc, record)) return {};
  std::string bytes = doc->Serialize();
  bool laidOut = bytes.size() > kLogHead.size() + kLogTail.size() && bytes.starts_with(kLogHead) &&
                 bytes.ends_with(kLogTail);
  return laidOut ? bytes : std::string();
}

bool InOwnLayout(const CLogFile& file, uint64_t size) {
  std::string head, tail;
  return size >= kLogHead.size() + kLogTail.size() && file.ReadAt(0, kLogHead.size(), head) &&
         head == kLogHead && file.ReadAt(size - kLogTail.size(), kLogTail.size(), tail) && tail == kLogTail;
}

}  // namespace

AppendOutcome AppendRecordToLogFile(CLogFile& file, const AckRecord& record) {
  uint64_t size = 0;
  std::string bytes = NewFileBytes(record);
  if (!file.Size(size)) {
    file.Close();
    return AppendOutcome::kFailed;
  }
  if (!bytes.empty() && (size == 0 || InOwnLayout(file, size))) {
    bool written = size == 0 ? file.WriteTail(0, bytes)
                             : file.WriteTail(size - kLogTail.size(),
                                              std::string_view(bytes).substr(kLogHead.size()));
    file.Close();
    return written ? AppendOutcome::kSaved : AppendOutcome::kFailed;
  }
  std::string path = file.Path();
  std::unique_ptr<CLogDocument> doc = LoadLogDocument(file);
  if (!doc) return AppendOutcome::kUnusable;
  if (!AppendRecord(*doc, record)) {
    DebugOutput("Log file has another root element, left untouched: " + path + "\n");
    file.Close();
    return AppendOutcome::kUnusable;
  }
  return SaveLogDocument(*doc, file) ? AppendOutcome::kSaved : AppendOutcome::kFailed;
}
