#include "acklog/log_append.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include "acklog/log_layout.h"
#include "platform/debug.h"

namespace {

// The bytes of a new file holding only `records`: kLogHead, each record
// with a line feed, kLogTail. Built by the document code itself so that
// both routes write the same bytes. Empty if the serialiser ever disagrees
// with the layout.
std::string NewFileBytes(const std::vector<AckRecord>& records) {
  std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
  if (!doc) return {};
  for (const AckRecord& record : records) {
    if (!AppendRecord(*doc, record)) return {};
  }
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

CLogAppender::Check CLogAppender::Prepare() {
  doc_.reset();
  CLogFile::Stamp now;
  if (!file_.GetStamp(now)) {
    file_.Close();
    return Check::kDamaged;
  }
  size_ = now.size;
  if (size_ > 0 && InOwnLayout(file_, size_) && (KnownIntact(file_.Path(), now) || ParsesWhole(file_))) {
    return Check::kReady;
  }
  doc_ = LoadLogDocument(file_);
  if (!doc_) return Check::kDamaged;
  if (!AcceptsRecords(*doc_)) {
    doc_.reset();
    file_.Close();
    return Check::kForeign;
  }
  return Check::kReady;
}

bool CLogAppender::Append(const std::vector<AckRecord>& records) {
  if (!doc_) {
    std::string bytes = NewFileBytes(records);
    if (!bytes.empty()) {
      bool written = file_.WriteTail(size_ - kLogTail.size(), std::string_view(bytes).substr(kLogHead.size()));
      if (written) RememberIntact(file_);
      file_.Close();
      return written;
    }
    // The serialiser and the layout disagree: the document route rewrites
    // the file in the serialiser's own.
    if (!(doc_ = LoadLogDocument(file_))) return false;
  }
  for (const AckRecord& record : records) {
    if (!AppendRecord(*doc_, record)) {
      file_.Close();
      return false;
    }
  }
  return SaveLogDocument(*doc_, file_);
}

AppendOutcome AppendRecordToLogFile(CLogFile& file, const AckRecord& record) {
  uint64_t size = 0;
  if (!file.Size(size)) {
    file.Close();
    return AppendOutcome::kFailed;
  }
  if (size == 0) {
    std::string bytes = NewFileBytes({record});
    if (!bytes.empty()) {
      bool written = file.WriteTail(0, bytes);
      if (written) RememberIntact(file);
      file.Close();
      return written ? AppendOutcome::kSaved : AppendOutcome::kFailed;
    }
  }
  std::string path = file.Path();
  CLogAppender appender(file);
  switch (appender.Prepare()) {
    case CLogAppender::Check::kReady:
      return appender.Append({record}) ? AppendOutcome::kSaved : AppendOutcome::kFailed;
    case CLogAppender::Check::kForeign:
      DebugOutput("Log file has another root element, left untouched: " + path + "\n");
      return AppendOutcome::kUnusable;
    case CLogAppender::Check::kDamaged:
      break;
  }
  return AppendOutcome::kUnusable;
}
