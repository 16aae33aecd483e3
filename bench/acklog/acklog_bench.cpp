// Acknowledgement log speed.
//
// 1. Appending one record to a cache file that holds 1, 1,000, 10,000 and
//    100,000 records, as the writer does it (open, lock, append in place,
//    sync, close). Goal: independent of the file's size and at most 2x the
//    cost of writing and syncing the record's bytes alone (same run, same
//    folder). The document route (parse, append, rewrite) is shown beside
//    it for comparison.
// 2. CAlarmLog::LoadRecords of 100,000 records spread over 30 files. Goal:
//    at most 2 s, and at most 1.5x a plain libxml2 parse of the same files.
//
// Usage: bench_acklog [FOLDER]   (default: a new folder under $TMPDIR or
// /tmp, removed at the end). Figures are medians of repeated runs.
#include <fcntl.h>
#include <libxml/parser.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/bench_timing.h"
#include "acklog/alarm_log.h"
#include "acklog/log_append.h"
#include "acklog/log_document.h"
#include "acklog/log_layout.h"

namespace {

using Clock = std::chrono::steady_clock;

AckRecord Record(int i) {
  AckRecord r;
  r.ackTime = CDateTime::FromParts(2024, 5, 1 + i % 28, i % 24, i % 60, (i * 7) % 60);
  r.area = "Plant/Unit" + std::to_string(i % 12);
  r.target = "N" + std::to_string(i % 40);
  r.variable = "LIC" + std::to_string(100 + i % 900) + ".AS";
  r.server = "PLANTPC1";
  r.operatorName = "operator" + std::to_string(i % 9);
  r.message = "LIC" + std::to_string(100 + i % 900) + " level high";
  r.comment = "checked on site, valve " + std::to_string(i) + " reset";
  r.condition = "Level";
  r.subcondition = "Hi";
  r.result = "Success";
  return r;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string FileOf(int first, int count) {
  std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
  for (int i = 0; i < count; ++i) AppendRecord(*doc, Record(first + i));
  return doc->Serialize();
}

// The bytes one append writes for Record(i) (record, line feed, tail).
std::string AppendBytes(int i) {
  std::string bytes = FileOf(i, 1);
  return bytes.substr(kLogHead.size());
}

// Baseline: the record's bytes alone, appended to a file and synced.
double WriteAndSyncSeconds(const std::string& path, const std::string& bytes) {
  auto start = Clock::now();
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) && fdatasync(fd) == 0;
  if (fd >= 0) close(fd);
  if (!ok) std::fprintf(stderr, "baseline write failed\n");
  return Seconds(Clock::now() - start);
}

double InPlaceAppendSeconds(const std::string& path, const AckRecord& record) {
  auto start = Clock::now();
  CLogFile file;
  bool ok = file.Open(path, true) && AppendRecordToLogFile(file, record) == AppendOutcome::kSaved;
  if (!ok) std::fprintf(stderr, "append failed: %s\n", path.c_str());
  return Seconds(Clock::now() - start);
}

double DocumentAppendSeconds(const std::string& path, const AckRecord& record) {
  auto start = Clock::now();
  CLogFile file;
  std::unique_ptr<CLogDocument> doc = OpenLogDocument(path, true, false, file);
  bool ok = doc && AppendRecord(*doc, record) && SaveLogDocument(*doc, file);
  if (!ok) std::fprintf(stderr, "document append failed: %s\n", path.c_str());
  return Seconds(Clock::now() - start);
}

void BenchAppend(const std::string& folder) {
  std::printf("Append one record to a cache file (median of runs; baseline: the same bytes written and synced)\n");
  std::printf("%10s %14s %14s %8s %16s\n", "records", "append (ms)", "baseline (ms)", "ratio", "document (ms)");
  double smallest = 0, largest = 0;
  bool allWithinGoal = true;
  for (int records : {1, 1000, 10000, 100000}) {
    std::string cache = folder + "/AESERVLOG_CACHE_" + std::to_string(records) + ".xml";
    std::string copy = folder + "/AESERVLOG_DOC_" + std::to_string(records) + ".xml";
    std::string plain = folder + "/baseline_" + std::to_string(records) + ".bin";
    std::string content = FileOf(0, records);
    WriteFile(cache, content);
    WriteFile(copy, content);
    const int runs = 60;
    std::vector<double> append, baseline;
    for (int i = 0; i < runs; ++i) {
      // Alternate, so that both see the same disk weather.
      baseline.push_back(WriteAndSyncSeconds(plain, AppendBytes(records + i)));
      append.push_back(InPlaceAppendSeconds(cache, Record(records + i)));
    }
    int documentRuns = records >= 100000 ? 3 : records >= 10000 ? 7 : 21;
    std::vector<double> document;
    for (int i = 0; i < documentRuns; ++i) document.push_back(DocumentAppendSeconds(copy, Record(records + i)));
    double a = Median(append), b = Median(baseline), d = Median(document);
    std::printf("%10d %14.3f %14.3f %8.2f %16.3f\n", records, a * 1e3, b * 1e3, a / b, d * 1e3);
    allWithinGoal = allWithinGoal && a / b <= 2.0;
    if (records == 1) smallest = a;
    largest = a;
  }
  std::printf("append at 100,000 records / append at 1 record: %.2f (size-independent: about 1)\n",
              largest / smallest);
  std::printf("goal append <= 2 x baseline at every size: %s\n\n", allWithinGoal ? "met" : "NOT met");
}

void BenchLoad(const std::string& folder) {
  const int files = 30, total = 100000;
  std::string view = folder + "/view";
  std::filesystem::create_directories(view);
  std::vector<std::string> paths;
  for (int f = 0, first = 0; f < files; ++f) {
    int count = total / files + (f < total % files ? 1 : 0);
    paths.push_back(view + "/AESERVLOG_2024-05-" + std::to_string(10 + f) + ".xml");
    WriteFile(paths.back(), FileOf(first, count));
    first += count;
  }
  std::vector<double> load, parse;
  size_t loaded = 0;
  CAlarmLog log;
  for (int run = 0; run < 5; ++run) {
    auto start = Clock::now();
    for (const std::string& path : paths) {
      std::ifstream in(path, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), {});
      xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, XML_PARSE_NONET);
      if (!doc) std::fprintf(stderr, "parse failed: %s\n", path.c_str());
      xmlFreeDoc(doc);
    }
    parse.push_back(Seconds(Clock::now() - start));

    std::vector<AckRecord> records;
    ComPtr<ProgressHandle> progress = ProgressHandle::Create();
    start = Clock::now();
    log.LoadRecords(view, CDateTime(), CDateTime(), {}, records, *progress.Get());
    load.push_back(Seconds(Clock::now() - start));
    loaded = records.size();
  }
  double l = Median(load), p = Median(parse);
  std::printf("LoadRecords of %zu records in %d files (median of 5)\n", loaded, files);
  std::printf("  LoadRecords %.3f s, plain libxml2 parse %.3f s, ratio %.2f\n", l, p, l / p);
  std::printf("  goal <= 2 s: %s (%.2f of it); goal <= 1.5 x parse: %s\n", l <= 2.0 ? "met" : "NOT met", l / 2.0,
              l / p <= 1.5 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  bool own = argc < 2;
  if (own) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_acklog.XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    folder = pattern;
  } else {
    folder = argv[1];
    std::filesystem::create_directories(folder);
  }
  BenchAppend(folder);
  BenchLoad(folder);
  if (own) std::filesystem::remove_all(folder);
  return 0;
}
