#include "acklog/alarm_log.h"

#include <filesystem>

#include "acklog/ack_log_settings.h"
#include "acklog/log_append.h"
#include "acklog/log_document.h"
#include "acklog/log_reader.h"
#include "alarmconfig/derived_source.h"
#include "platform/debug.h"
#include "platform/path_text.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"

namespace {

constexpr int kCacheFiles = 1000;

std::string CacheFileName(int n) { return "AESERVLOG_CACHE_" + std::to_string(n) + ".xml"; }

// The names from the source name alone, for a source without an alarm
// variable: area before the first "/", target up to the next ".", variable
// after it. Without a "/" the area is empty; without a "." after it the
// variable is.
void SplitSourceName(const std::string& name, AckRecord& record) {
  size_t slash = name.find('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = name.find('.', start);
  record.area = slash == std::string::npos ? std::string() : name.substr(0, slash);
  record.target = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
  record.variable = dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

// Everything the copy thread uses: it outlives the log object when the
// thread has to be left running at destruction.
struct CAlarmLog::Shared {
  explicit Shared(Options o) : options(std::move(o)) {
    if (!options.clock) options.clock = std::shared_ptr<const ae::Clock>(&ae::Clock::System(), [](const ae::Clock*) {});
  }

  void AddArea(const std::string& area) {
    TrackedMutexGuard guard(mutex, AE_SITE);
    knownAreas.insert(area);
  }
  bool RunCopyPass();
  bool CopyCacheFile(const std::string& path);

  Options options;
  ae::Event stop{ae::Event::kManualReset};
  ae::Event work{ae::Event::kAutoReset};
  ae::Event finished{ae::Event::kManualReset};
  TrackedMutex mutex;
  std::set<std::string> knownAreas;
};

CAlarmLog::CAlarmLog(Options options) : shared_(std::make_shared<Shared>(std::move(options))) {
  thread_ = std::thread(CopyThread, shared_);
}

CAlarmLog::~CAlarmLog() {
  shared_->stop.Set();
  if (!thread_.joinable()) return;
  if (shared_->finished.Wait(shared_->options.stopTimeoutMs)) {
    thread_.join();
  } else {
    // Stuck in file I/O that cannot be interrupted (a hung remote folder):
    // leave it to end on its own; it holds its own share of the state.
    DebugOutput("Terminating Remote Alarm Log Thread\n");
    thread_.detach();
  }
}

CAlarmLog::VariableNames CAlarmLog::CopyVariableNames(CAESource& source) {
  VariableNames names;
  auto* derived = dynamic_cast<CDerivedSource*>(&source);
  if (!derived) return names;
  std::lock_guard lock(source);
  if (const AlarmVar* variable = derived->Variable()) {
    names = {true, variable->area, variable->nodeName, variable->itemName};
  }
  return names;
}

TrackedMutex& CAlarmLog::Mutex() { return shared_->mutex; }

void CAlarmLog::GetKnownAreas(std::set<std::string>& areas) {
  TrackedMutexGuard guard(shared_->mutex, AE_SITE);
  areas = shared_->knownAreas;
}

bool CAlarmLog::LogAcknowledgement(CAECondition& condition, CAESource& source, const std::string& result,
                                   const VariableNames& names, const CAEAcknowledgement* acknowledgement) {
  CAEAcknowledgement ack = acknowledgement ? *acknowledgement : condition.LastAcknowledgement();
  if (IsNullFileTime(ack.time) || !IsLoggingEnabled()) {
    DebugOutput("Alarm log ignoring condition without ack\n");
    return false;
  }
  AckRecord record;
  if (names.found) {
    record.area = names.area;
    record.target = names.target;
    record.variable = names.variable;
  } else {
    DebugOutput("Couldn't find pAlarmVar, falling back on legacy code to find area, target, variable\n");
    SplitSourceName(source.Name(), record);
  }
  record.ackTime = CDateTime::FromFileTime(ack.time);
  record.message = ack.message;
  record.comment = ack.comment;
  record.operatorName = ack.acknowledgerId;
  record.condition = condition.Name();
  record.subcondition = ack.subcondition;
  record.server = GetComputerName();
  record.result = result;
  shared_->AddArea(record.area);

  std::string folder = EnsureTrailingBackslash(GetLocalPath());
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  std::string path;
  for (int n = 0; n < kCacheFiles; ++n) {
    path = folder + CacheFileName(n);
    CLogFile file;
    // A file held by the copy thread or another writer fails to open.
    if (!file.Open(path, true)) continue;
    switch (AppendRecordToLogFile(file, record)) {
      case AppendOutcome::kSaved:
        shared_->work.Set();
        return true;
      case AppendOutcome::kFailed:
        DebugOutput("Failed to add comment to local file: " + path + "\n");
        return false;
      case AppendOutcome::kUnusable:
        continue;  // damaged or foreign: keep it for an administrator
    }
  }
  DebugOutput("Failed to open local document to add comment: " + path + "\n");
  return false;
}

void CAlarmLog::LoadRecords(const std::string& directory, const CDateTime& from, const CDateTime& to,
                            const std::set<std::string>& areaFilter, std::vector<AckRecord>& records,
                            ProgressHandle& progress) {
  LogFilter filter{from, to, areaFilter};
  std::shared_ptr<Shared> shared = shared_;
  ReadLogRecords(directory, filter, records, progress,
                 [&shared](const AckRecord& record) { shared->AddArea(record.area); });
}

void CAlarmLog::CopyThread(std::shared_ptr<Shared> shared) {
  DWORD timeout = shared->options.retryMs;
  for (;;) {
    DWORD wait = ae::WaitAny({&shared->stop, &shared->work}, timeout);
    if (wait == WAIT_OBJECT_0) break;
    if (wait != WAIT_OBJECT_0 + 1 && wait != WAIT_TIMEOUT) continue;
    shared->work.Reset();
    if (shared->RunCopyPass()) {
      timeout = INFINITE;
    } else if (!shared->stop.IsSet()) {
      DebugOutput("Failed to copy Alarm Logs remotely\n");
      timeout = shared->options.retryMs;
    }
  }
  shared->finished.Set();
}

bool CAlarmLog::Shared::RunCopyPass() {
  bool ok = true;
  for (const std::string& path : ListLogFiles(GetLocalPath(), "AESERVLOG_CACHE*.xml")) {
    if (stop.IsSet()) return false;
    // Every cache file gets its turn, whatever happened to the one before.
    ok = CopyCacheFile(path) && ok;
  }
  return ok;
}

bool CAlarmLog::Shared::CopyCacheFile(const std::string& path) {
  std::string remote = GetRemotePath();
  if (remote.empty()) return false;
  CLogFile cacheFile;
  std::unique_ptr<CLogDocument> cache = OpenLogDocument(path, true, false, cacheFile);
  if (!cache) {
    DebugOutput("Failed to open local cache file: " + path + "\n");
    return false;
  }
  std::vector<CXmlNode> nodes = SelectRecords(*cache);
  if (nodes.empty()) {
    DebugOutput("No alarms to process: " + path + "\n");
    return true;
  }
  std::string date = CDateTime::FromFileTime(options.clock->NowUtc()).Format(false);
  std::string remotePath = EnsureTrailingBackslash(remote) + "AESERVLOG_" + date + ".xml";
  std::string backupPath =
      EnsureTrailingBackslash(GetLocalPath()) + "AESERVLOG_" + date + "_" + GetComputerName() + ".xml";

  // Both daily files are checked, and held, before either takes a record;
  // they take the records by one write at their end (log_append.h), so a
  // pass costs what it copies, not what the day has gathered.
  CLogFile remoteFile, backupFile;
  CLogAppender remoteLog(remoteFile), backupLog(backupFile);
  if (!remoteFile.Open(remotePath, true) || remoteLog.Prepare() != CLogAppender::Check::kReady) {
    DebugOutput("Failed to open remote file: " + remotePath + "\n");
    return false;
  }
  if (!backupFile.Open(backupPath, true) || backupLog.Prepare() != CLogAppender::Check::kReady) {
    DebugOutput("Failed to open local backup file: " + backupPath + "\n");
    return false;
  }
  std::vector<AckRecord> records(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    ReadRecord(nodes[i], records[i]);
    AddArea(records[i].area);
    if (!RemoveRecord(nodes[i])) {
      DebugOutput("Couldn't get parent node\n");
      return false;
    }
  }
  // The cache lets its records go only once both copies are safe.
  if (!remoteLog.Append(records)) {
    DebugOutput("Failed to write to remote file: " + remotePath + "\n");
    return false;
  }
  if (!backupLog.Append(records)) {
    DebugOutput("Failed to write to local backup file: " + backupPath + "\n");
    return false;
  }
  if (!SaveLogDocument(*cache, cacheFile)) {
    DebugOutput("Failed to write to local cache file: " + path + "\n");
    return false;
  }
  return true;
}
