// The acknowledgement comments viewer with a large log: 100,000 records in
// 30 daily files, on Qt's offscreen platform.
//
// 1. From Refresh to the rows shown (the progress dialog's load, the rows
//    into the list, sorted, the list painted) against CAlarmLog::LoadRecords
//    alone in the same run. Goal: at most 1.5x.
// 2. A sort by each column, both ways, from the header click to the list
//    painted. Goal: at most 300 ms each.
// 3. The viewer's memory with the rows shown (every byte it holds through
//    new, the records included) against the records' own size (the records
//    and the texts they hold). Goal: at most 2x.
// Also how often the progress bar moved while the files loaded.
//
// Usage: bench_ui [FOLDER]   (default: a new folder under $TMPDIR or /tmp,
// removed at the end). The registry store is a private one in that folder.
// Times are medians of 3 runs, the load alone and the Refresh taken in turns.
#include <QApplication>
#include <QProgressBar>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "bench/support/bench_timing.h"
#include "acklog/ack_log_settings.h"
#include "acklog/alarm_log.h"
#include "acklog/log_document.h"
#include "callback/alarm_log_instance.h"
#include "ui/dialog_result.h"
#include "ui/dlg_ack_comments.h"
#include "ui/dlg_progress.h"
#include "ui/resource_library.h"

// Every byte held through new, counted by a size kept in front of each block.
namespace {
std::atomic<int64_t> g_liveBytes{0};
constexpr size_t kHeader = 16;  // keeps malloc's 16-byte alignment

void* Allocate(size_t size) {
  auto* block = static_cast<char*>(std::malloc(size + kHeader));
  if (!block) throw std::bad_alloc();
  *reinterpret_cast<size_t*>(block) = size;
  g_liveBytes += int64_t(size);
  return block + kHeader;
}

void Free(void* p) noexcept {
  if (!p) return;
  char* block = static_cast<char*>(p) - kHeader;
  g_liveBytes -= int64_t(*reinterpret_cast<size_t*>(block));
  std::free(block);
}
}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, size_t) noexcept { Free(p); }
void operator delete[](void* p, size_t) noexcept { Free(p); }

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFiles = 30;
constexpr int kRecords = 100000;

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
  r.subcondition = i % 3 ? "Hi" : "HiHi";
  r.result = "Success";
  return r;
}

void WriteFiles(const std::string& folder) {
  for (int f = 0, first = 0; f < kFiles; ++f) {
    int count = kRecords / kFiles + (f < kRecords % kFiles ? 1 : 0);
    std::unique_ptr<CLogDocument> doc = CLogDocument::CreateEmpty();
    for (int i = 0; i < count; ++i) AppendRecord(*doc, Record(first + i));
    char name[64];
    std::snprintf(name, sizeof name, "/AESERVLOG_2024-05-%02d.xml", 1 + f);
    std::ofstream(folder + name, std::ios::binary | std::ios::trunc) << doc->Serialize();
    first += count;
  }
}

size_t TextBytes(const std::string& text) {
  // Texts of up to 15 characters live inside the string object.
  return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

size_t OwnSize(const CAckRecordModel& rows) {
  size_t bytes = 0;
  for (int row = 0; row < rows.rowCount(); ++row) {
    const AckRecord& r = *rows.RecordAt(row);
    bytes += sizeof(AckRecord);
    for (const std::string* text : {&r.area, &r.target, &r.variable, &r.operatorName, &r.comment, &r.message,
                                    &r.condition, &r.subcondition, &r.server, &r.result})
      bytes += TextBytes(*text);
  }
  return bytes;
}

// Paints the list now, as the screen would show it.
void ShowRows(CDlgAckComments& viewer) {
  QTreeView* list = viewer.List().View();
  list->viewport()->repaint();
  QApplication::processEvents();
}

void Run() {
  std::printf("Comments viewer with %d records in %d daily files (offscreen)\n", kRecords, kFiles);
  std::vector<double> load;
  // LoadRecords alone, on this thread, into a container of its own.
  auto loadAlone = [&load] {
    std::vector<AckRecord> records;
    ComPtr<ProgressHandle> progress = ProgressHandle::Create();
    auto start = Clock::now();
    g_pAlarmLog.load()->LoadRecords(GetRemotePath(), CDateTime(), CDateTime(), {}, records, *progress.Get());
    load.push_back(Seconds(Clock::now() - start));
    if (records.size() != size_t(kRecords)) std::fprintf(stderr, "loaded %zu records\n", records.size());
  };
  const int64_t before = g_liveBytes;
  std::vector<double> refresh;
  std::vector<std::pair<std::string, double>> sorts;
  std::set<int> barPositions;
  size_t own = 0, rows = 0;
  int64_t held = 0;
  {
    CDlgAckComments viewer;
    // Once the viewer shows (it loads once as it opens).
    QTimer open;
    open.setInterval(10);
    QObject::connect(&open, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget() != &viewer || !viewer.isVisible()) return;
      open.stop();
      // In turns, so that both see the same machine.
      for (int run = 0; run < 3; ++run) {
        loadAlone();
        // The bar as the operator sees it, every 20 ms.
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
          if (auto* progress = dynamic_cast<CDlgProgress*>(QApplication::activeModalWidget()))
            if (auto* bar = progress->Control<QProgressBar>(CDlgProgress::kProgressBar))
              barPositions.insert(bar->value());
        });
        watch.start();
        auto start = Clock::now();
        viewer.Refresh();
        ShowRows(viewer);
        refresh.push_back(Seconds(Clock::now() - start));
      }
      rows = size_t(viewer.Records().rowCount());
      own = OwnSize(viewer.Records());
      held = g_liveBytes - before;
      for (int column = 0; column < CAckRecordModel::kColumnCount; ++column) {
        for (int click = 0; click < 2; ++click) {
          auto start = Clock::now();
          viewer.OnHeaderClick({column, Qt::LeftButton});
          ShowRows(viewer);
          std::string name = CAckRecordModel::HeaderText(column).toStdString() +
                             (viewer.SortAscending() ? " ascending" : " descending");
          sorts.emplace_back(name, Seconds(Clock::now() - start));
        }
      }
      viewer.EndDialog(IDCANCEL);
    });
    open.start();
    viewer.DoModal();
  }

  const double l = Median(load), r = Median(refresh);
  std::printf("  LoadRecords alone %.3f s; Refresh to %zu rows shown %.3f s; ratio %.2f (goal <= 1.5: %s)\n", l, rows,
              r, r / l, r / l <= 1.5 ? "met" : "NOT met");
  std::printf("  progress bar positions seen while loading: %zu\n", barPositions.size());
  double slowest = 0;
  for (const auto& [name, seconds] : sorts) {
    std::printf("  sort by %-24s %7.1f ms\n", name.c_str(), seconds * 1e3);
    slowest = std::max(slowest, seconds);
  }
  std::printf("  slowest sort %.1f ms (goal <= 300 ms: %s)\n", slowest * 1e3, slowest <= 0.3 ? "met" : "NOT met");
  const double ratio = double(held) / double(own);
  std::printf("  records' own size %.1f MB; viewer with its rows %.1f MB; ratio %.2f (goal <= 2: %s)\n", own / 1e6,
              held / 1e6, ratio, ratio <= 2.0 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  const bool own = argc < 2;
  if (own) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_ui.XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    folder = pattern;
  } else {
    folder = argv[1];
  }
  const std::string logs = folder + "/logs";
  std::filesystem::create_directories(logs);
  setenv("AE_REGISTRY_DIR", (folder + "/registry").c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  QApplication app(argc, argv);
  if (!CResourceLibrary::Load(QCoreApplication::applicationDirPath())) {
    std::fprintf(stderr, "bench_ui: no resource library beside the program\n");
    return 1;
  }
  WriteFiles(logs);
  SetRemotePath(logs);
  SetFilterDisplayLocation(0);
  SetFilterDisplayRange(1);
  SetFilterDisplayArea(0);
  {
    CAlarmLog log;
    g_pAlarmLog = &log;
    Run();
    g_pAlarmLog = nullptr;
  }
  CResourceLibrary::Free();
  if (own) std::filesystem::remove_all(folder);
  return 0;
}
