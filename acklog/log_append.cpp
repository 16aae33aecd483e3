#include "acklog/log_append.h"

#include <mutex>
#include <string>
#include <unordered_map>

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

// The files (by path) that this process has read whole and found well-formed
// or written itself, as its last in-place append left them. Head and tail do
// not tell a file whose middle is damaged, and a record appended there would
// be reported saved but never read; reading the whole file before every
// append would cost time in proportion to it. So a file is read whole once,
// and again only after someone else changed it.
std::mutex g_intactMutex;
std::unordered_map<std::string, CLogFile::Stamp> g_intactFiles;

bool KnownIntact(const std::string& path, const CLogFile::Stamp& now) {
  std::lock_guard lock(g_intactMutex);
  auto it = g_intactFiles.find(path);
  return it != g_intactFiles.end() && it->second == now;
}

void RememberIntact(const CLogFile& file) {
  CLogFile::Stamp stamp;
  if (!file.GetStamp(stamp)) return;
  std::lock_guard lock(g_intactMutex);
  g_intactFiles[file.Path()] = stamp;
}

bool ParsesWhole(const CLogFile& file) {
  std::string bytes;
  return file.ReadAll(bytes) && CLogDocument::Parse(bytes) != nullptr;
}

}  // namespace

AppendOutcome AppendRecordToLogFile(CLogFile& file, const AckRecord& record) {
  CLogFile::Stamp now;
  std::string bytes = NewFileBytes(record);
  if (!file.GetStamp(now)) {
    file.Close();
    return AppendOutcome::kFailed;
  }
  uint64_t size = now.size;
  if (!bytes.empty() && (size == 0 || (InOwnLayout(file, size) && (KnownIntact(file.Path(), now) ||
                                                                    ParsesWhole(file))))) {
    bool written = size == 0 ? file.WriteTail(0, bytes)
                             : file.WriteTail(size - kLogTail.size(),
                                              std::string_view(bytes).substr(kLogHead.size()));
    if (written) RememberIntact(file);
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
