// The toolkit's process-wide state behind g_ServerInterface: the callback
// object, the clock, the event road, statistics, trace, the live event
// server objects and the server's identity and settings.
//
// Contract: Instance() is created on first use and lives until exit. Every
// member may be used from any thread. TraceLine and TraceCall call the
// callback's OnTrace, so they must not be called under a toolkit lock.
// Buffer times, keep-alives, the statistics period and the times the
// toolkit stamps as "now" are read from Clock().
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/filetime.h"
#include "toolkit/event_dispatcher.h"
#include "toolkit/opccomn.h"
#include "toolkit/statistics.h"
#include "toolkit/trace.h"

class CAEEventServer;
class CAEServerCallback;

class CAEEngine {
 public:
  static CAEEngine& Instance();

  // The callback set by the server, else the toolkit's own.
  CAEServerCallback& Callback();
  void SetCallback(CAEServerCallback* callback) { callback_.store(callback); }

  // The clock set by the server, else the system's.
  ae::Clock& Clock();
  void SetClock(ae::Clock* clock) { clock_.store(clock); }

  CAEEventDispatcher& Dispatcher() { return dispatcher_; }
  CAEStatistics& Statistics() { return statistics_; }
  CAETrace& Trace() { return trace_; }

  // A trace line (through the callback's OnTrace) when `level` is traced.
  void TraceLine(int level, const std::string& text);
  // One client call with its result: at `level`, or at level 1 while COM
  // call tracing is on.
  void TraceCall(int level, const char* method, HRESULT result);

  void AddServer(CAEEventServer* server);
  void RemoveServer(CAEEventServer* server);
  std::vector<ComPtr<IOPCShutdown>> ShutdownSinks();

  void SetIdentity(const std::string& vendor);
  std::string Vendor();
  FILETIME StartTime();
  std::atomic<DWORD> serverState{0};
  std::atomic<bool> validateSources{false};
  std::atomic<bool> validateAreas{false};

 private:
  CAEEngine();
  ~CAEEngine();

  std::atomic<CAEServerCallback*> callback_{nullptr};
  std::atomic<ae::Clock*> clock_{nullptr};
  CAEStatistics statistics_;
  CAETrace trace_;
  std::mutex mutex_;  // guards the members below
  std::vector<CAEEventServer*> servers_;
  std::string vendor_;
  FILETIME startTime_;
  // Last: the delivery thread stops before the rest goes.
  CAEEventDispatcher dispatcher_;
};
