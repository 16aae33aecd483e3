// A log file as this server writes it, cut at any byte, as a crash or a
// full disk leaves it. The input is two bytes choosing the cut (big-endian,
// taken modulo the file's length + 1) and a log file; its records (at most
// kMaxRecords), written afresh by the server's own writer, make the file
// that is cut. The cut file must read as exactly the records written
// completely before the cut, and take a new record after them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "acklog/log_append.h"
#include "acklog/log_document.h"
#include "acklog/log_layout.h"
#include "fuzz/support/fuzz_log_files.h"
#include "fuzz/support/fuzz_sandbox.h"

namespace {

constexpr size_t kMaxRecords = 64;
constexpr std::string_view kRecordEnd = "</AlarmRecord>\n";

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "acklog_cut: %s\n", what.c_str());
  std::abort();
}

// The records of `text` when it parses as a log document; none otherwise.
std::vector<AckRecord> RecordsOf(const std::string& text) {
  std::vector<AckRecord> records;
  std::unique_ptr<CLogDocument> doc = CLogDocument::Parse(text);
  if (!doc) return records;
  for (const CXmlNode& node : SelectRecords(*doc)) {
    if (records.size() == kMaxRecords) break;
    records.emplace_back();
    ReadRecord(node, records.back());
  }
  return records;
}

size_t CompleteRecords(std::string_view bytes) {
  size_t count = 0;
  for (size_t at = bytes.find(kRecordEnd); at != std::string_view::npos; at = bytes.find(kRecordEnd, at + 1))
    ++count;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzSandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t choice = size_t(data[0]) << 8 | data[1];
  std::vector<AckRecord> records = RecordsOf(std::string(reinterpret_cast<const char*>(data) + 2, size - 2));

  std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
  for (const AckRecord& record : records) AppendRecord(*doc, record);
  std::string whole = doc->Serialize();
  if (!records.empty() && !(whole.starts_with(kLogHead) && whole.ends_with(kLogTail)))
    Broken("the writer's own file is not in its layout");
  std::string folder = LogFolder("cut");
  WriteLogFile(folder, whole);
  std::vector<AckRecord> written = ReadFolder(folder);
  if (written.size() != records.size()) Broken("the writer's own file does not read as its records");

  std::string_view cut = std::string_view(whole).substr(0, choice % (whole.size() + 1));
  std::string path = WriteLogFile(folder, cut);
  std::vector<AckRecord> intact(written.begin(), written.begin() + ptrdiff_t(CompleteRecords(cut)));
  if (!SameRecords(ReadFolder(folder), intact))
    Broken("a file cut at byte " + std::to_string(cut.size()) + " of " + std::to_string(whole.size()) +
           " does not read as its " + std::to_string(intact.size()) + " intact records");

  CLogFile file;
  if (!file.Open(path, true)) Broken("cannot open the cut file for writing");
  if (AppendRecordToLogFile(file, AppendedRecord()) != AppendOutcome::kSaved)
    Broken("a cut file does not take a record");
  intact.push_back(AppendedRecord());
  if (!SameRecords(ReadFolder(folder), intact)) Broken("a cut file with a record appended lost records");
  return 0;
}
