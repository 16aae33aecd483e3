// CAlarmLog: the server's acknowledgement log (g_pAlarmLog). Appends each
// client acknowledgement at once to a local cache file, moves cached records
// on a thread of its own into the daily file of the remote folder and the
// daily backup file of the local folder, loads records for the comments
// viewer, and remembers every area it has seen.
//
// Files: local cache files "AESERVLOG_CACHE_<n>.xml" (n = 0..999) in "Local
// Path"; remote daily files "AESERVLOG_<UTC date>.xml" in "Remote Path";
// backups "AESERVLOG_<UTC date>_<computer>.xml" in "Local Path" (settings:
// ack_log_settings.h; format: log_document.h). Writers and the copy thread
// coordinate through file locks alone: a writer skips a cache file that the
// copy holds, the copy fails (and retries) on one a writer holds.
//
// Copy thread: runs a pass after each logged record, and 60 s (retry
// period) after a failed pass; after a good pass it sleeps until the next
// record. A pass moves the records of every cache file; a cache file's
// records leave it only after the remote and the backup file are saved.
//
// Diagnostics go to the debugger output only (texts in docs/acknowledgement-
// log.md). Destruction stops the thread, waiting at most the stop time-out
// (5 s); a thread still stuck in file I/O then is left to finish alone
// ("Terminating Remote Alarm Log Thread") and keeps what it uses alive.
//
// Threads: any thread may call any member. Mutex() is the log's own tracked
// mutex: callers of LogAcknowledgement hold it; the viewer holds it while it
// shows loaded records. It is never held together with g_ConfigMutex.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/progress_handle.h"
#include "alarmconfig/tracked_mutex.h"
#include "platform/clock.h"
#include "toolkit/condition.h"
#include "toolkit/source.h"

class CAlarmLog {
 public:
  struct Options {
    DWORD stopTimeoutMs = 5000;  // destruction's wait for the copy thread
    DWORD retryMs = 60000;       // wait after a failed pass (also the first)
    // Today's date for the daily file names; null: the system clock.
    std::shared_ptr<const ae::Clock> clock;
  };

  // Starts the copy thread.
  explicit CAlarmLog(Options options);
  CAlarmLog() : CAlarmLog(Options{}) {}
  virtual ~CAlarmLog();
  CAlarmLog(const CAlarmLog&) = delete;
  CAlarmLog& operator=(const CAlarmLog&) = delete;

  // Area, target and variable of a source's alarm variable (a
  // CDerivedSource), copied for a record; `found` is false for a source
  // without one. The import rewrites these texts under g_ConfigMutex alone.
  // REQUIRES: g_ConfigMutex is held.
  struct VariableNames {
    bool found = false;
    std::string area, target, variable;
  };
  static VariableNames CopyVariableNames(CAESource& source);

  // Appends one record for a client's acknowledgement of `condition` on
  // `source`, with `result` the write-back's result text, to the first
  // local cache file that can be opened, and wakes the copy thread. The
  // record holds `acknowledgement` (as the caller took it when the client
  // made it; null: the condition's last acknowledgement now) with the
  // subcondition and message it applied to, also when the alarm has been
  // raised again since; area, target and variable come from `names`, else
  // (not found) from the source's name. Nothing is written when the
  // condition was never acknowledged or logging is off.
  // True once the record is durably in a cache file; false when it was not
  // written (reported on the debugger output). REQUIRES: Mutex() is held.
  bool LogAcknowledgement(CAECondition& condition, CAESource& source, const std::string& result,
                          const VariableNames& names, const CAEAcknowledgement* acknowledgement = nullptr);

  // The viewer's load: appends to `records` the records of every log file
  // of `directory` that pass the date window [from, to] and `areaFilter`
  // (empty: all areas), as LogFilter (log_reader.h) defines them, reporting
  // through `progress` and stopping early when it is cancelled. Every
  // record read adds its area to the known areas.
  void LoadRecords(const std::string& directory, const CDateTime& from, const CDateTime& to,
                   const std::set<std::string>& areaFilter, std::vector<AckRecord>& records,
                   ProgressHandle& progress);

  // Replaces `areas` with the areas of every record written, copied or
  // loaded so far.
  void GetKnownAreas(std::set<std::string>& areas);

  TrackedMutex& Mutex();

 private:
  struct Shared;
  static void CopyThread(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
