// The acknowledgement log reader on a whole file of any content, as the
// comments viewer meets files that other servers and crashes wrote, and
// both writers meeting the same file: the cache-file append (in place, or
// through the document) and the remote/backup route (open for writing,
// append, save). Whatever the file holds, a writer either refuses it and
// leaves every byte as it was, or reports the record written, and the
// reader then finds the records it found before followed by the new one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "acklog/log_append.h"
#include "acklog/log_document.h"
#include "fuzz/support/fuzz_log_files.h"
#include "fuzz/support/fuzz_sandbox.h"

namespace {

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "acklog_file: %s\n", what.c_str());
  std::abort();
}

std::vector<AckRecord> WithAppended(std::vector<AckRecord> records) {
  records.push_back(AppendedRecord());
  return records;
}

void CheckCacheAppend(std::string_view bytes, const std::vector<AckRecord>& before) {
  std::string folder = LogFolder("cache");
  std::string path = WriteLogFile(folder, bytes);
  CLogFile file;
  if (!file.Open(path, true)) Broken("cannot open the cache file");
  AppendOutcome outcome = AppendRecordToLogFile(file, AppendedRecord());
  if (outcome != AppendOutcome::kSaved) {
    if (ReadBytes(path) != bytes) Broken("a refused cache append changed the file");
    return;
  }
  if (!SameRecords(ReadFolder(folder), WithAppended(before)))
    Broken("after a cache append reported saved, the file does not read as its records and the new one");
}

void CheckDocumentAppend(std::string_view bytes, const std::vector<AckRecord>& before) {
  std::string folder = LogFolder("remote");
  std::string path = WriteLogFile(folder, bytes);
  CLogFile file;
  std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, true, false, file);
  if (!doc) {
    if (ReadBytes(path) != bytes) Broken("a log file refused for writing was changed");
    return;
  }
  bool appended = AppendRecord(*doc, AppendedRecord());
  if (!SaveLogDocument(*doc, file)) Broken("saving the log document failed");
  if (!SameRecords(ReadFolder(folder), appended ? WithAppended(before) : before))
    Broken(appended ? "after an append and save, the file does not read as its records and the new one"
                    : "a save without an append changed the records");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzSandbox();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string folder = LogFolder("read");
  WriteLogFile(folder, bytes);
  std::vector<AckRecord> before = ReadFolder(folder);
  CheckCacheAppend(bytes, before);
  CheckDocumentAppend(bytes, before);
  return 0;
}
