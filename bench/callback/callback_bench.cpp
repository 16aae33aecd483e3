// Client acknowledgements end to end: the server core with the server
// callback, connected to the simulated Ralto OPC DA server over a generated
// plant, with the acknowledgement log. The controller raises 10,000 alarms
// (all active at once); one in-process OPC AE client then acknowledges each
// with its own AckCondition call, and every call is timed. Each call runs
// the whole road: the toolkit records the acknowledgement, the callback
// writes the word to the block's ".FC" item and appends the log record.
//
// Four rounds over the same alarms, cleared and raised again before each:
//   - the toolkit alone (its own callback: no write-back, no record): the
//     in-run baseline;
//   - the server callback with logging off: write-back only;
//   - the server callback with logging on: write-back and record (goal:
//     >= 2,000 acknowledgements per second; p99 latency reported);
//   - the same with a remote folder set, so that the log's copy thread
//     moves records while the writer appends.
// The update cycle is manual, so the controller's answers (the acknowledged
// state words) are not carried back during a round.
//
//   bench_callback [--alarms N] [--producers P] [--blocks B]
//                  (default 10,000 alarms of a 4 x 2,100-block plant)
// Runs in a private registry store and temporary folders, removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_plant.h"
#include "acklog/ack_log_settings.h"
#include "acklog/alarm_log.h"
#include "acklog/log_reader.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/resource_string_table.h"
#include "alarmconfig/tracked_mutex.h"
#include "callback/alarm_log_instance.h"
#include "callback/lum_ae_server_callback.h"
#include "platform/class_factory.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_control.h"
#include "ralto/opc_server.h"
#include "server/server_core.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/condition.h"
#include "toolkit/source_cache.h"

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr double kGoalPerSecond = 2000;

struct Options {
  size_t alarms = 10000;
  int producers = 4;
  int blocks = 2100;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) return false;
    if (std::strcmp(argv[i], "--alarms") == 0) {
      options.alarms = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--producers") == 0) {
      options.producers = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--blocks") == 0) {
      options.blocks = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return options.alarms > 0 && options.producers > 0 && options.blocks > 0;
}

// One alarm of the plant: its controller word and its condition.
struct Alarm {
  std::string stateWord;  // "NODE.BLOCK.AS"
  std::string source;
  BYTE state;             // the state the controller raises
};

// Keeps, per source, the latest unacknowledged activation at the awaited
// time: what a client needs to acknowledge it.
class ActivationSink final : public IOPCEventSink {
 public:
  struct Activation {
    std::string condition;
    FILETIME activeTime;
    DWORD cookie = 0;
  };

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IOPCEventSink) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IOPCEventSink*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }
  HRESULT OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count, const ONEVENTSTRUCT* events) override {
    std::lock_guard lock(mutex_);
    for (DWORD i = 0; i < count; ++i) {
      const ONEVENTSTRUCT& e = events[i];
      if ((e.wNewState & OPC_CONDITION_ACTIVE) && !(e.wNewState & OPC_CONDITION_ACKED) &&
          e.ftActiveTime == awaited_) {
        activations_[e.szSource] = {e.szConditionName, e.ftActiveTime, e.dwCookie};
      }
    }
    cv_.notify_all();
    return S_OK;
  }

  void Await(FILETIME time) {
    std::lock_guard lock(mutex_);
    awaited_ = time;
    activations_.clear();
  }
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(120), [&] { return activations_.size() >= count; });
  }
  std::map<std::string, Activation> Take() {
    std::lock_guard lock(mutex_);
    return std::move(activations_);
  }

 private:
  ~ActivationSink() = default;
  ComRefCount refs_;
  std::mutex mutex_;
  std::condition_variable cv_;
  FILETIME awaited_;
  std::map<std::string, Activation> activations_;
};

// Lines of debugger output, counted instead of printed.
std::atomic<size_t> g_debugLines{0};
size_t DebugLines() { return g_debugLines.load(); }

FILETIME PlantTime(int seconds) {
  return Uint64ToFileTime(133'618'392'000'000'000 + uint64_t(seconds) * kFileTimeTicksPerSecond);
}

struct Round {
  const char* name;
  double seconds = 0;
  std::vector<double> latenciesUs;
  size_t failures = 0;

  double PerSecond() const { return double(latenciesUs.size()) / seconds; }
  double Percentile(double p) const {
    std::vector<double> sorted = latenciesUs;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
  }
};

class Bench {
 public:
  Bench(const Options& options, std::string root) : options_(options), root_(std::move(root)) {}

  int Run() {
    if (!SetUp()) {
      TearDown();
      return 1;
    }
    std::printf("plant: %d producers x %d blocks, %zu alarm sources; %zu alarms raised at once\n",
                options_.producers, options_.blocks, sourceCount_, alarms_.size());

    std::vector<Round> rounds;
    g_ServerInterface.SetCallbackObject(nullptr);
    rounds.push_back(Measure("toolkit alone (no write-back, no record)", 1));
    g_ServerInterface.SetCallbackObject(&callback_);
    SetLoggingEnabled(false);
    rounds.push_back(Measure("callback, logging off (write-back)", 2));
    SetLoggingEnabled(true);
    rounds.push_back(Measure("callback, logging on (write-back + record)", 3));
    std::string remote = root_ + "/remote";
    fs::create_directories(remote);
    SetRemotePath(remote);
    rounds.push_back(Measure("  the same, remote copy running meanwhile", 4));

    std::vector<RaltoFcWrite> writes;
    control_->GetFcWrites(&writes);
    std::printf("\n%-44s %9s %9s %9s %9s\n", "one AckCondition per alarm", "acks/s", "p50 us", "p99 us", "max us");
    for (const Round& r : rounds) {
      std::printf("%-44s %9.0f %9.1f %9.1f %9.1f%s\n", r.name, r.PerSecond(), r.Percentile(0.50),
                  r.Percentile(0.99), r.Percentile(1.0), r.failures ? "  (some failed!)" : "");
    }
    const Round& goal = rounds[2];
    std::printf("\nwrite-back + record: %.0f acks/s, %.2f x the goal of >= %.0f/s; p99 latency %.1f us\n",
                goal.PerSecond(), goal.PerSecond() / kGoalPerSecond, kGoalPerSecond, goal.Percentile(0.99));
    std::printf("against the toolkit alone: %.1f x the time per acknowledgement (%.1f us more)\n",
                rounds[0].PerSecond() / goal.PerSecond(), 1e6 / goal.PerSecond() - 1e6 / rounds[0].PerSecond());
    TearDown();
    std::printf("words written to .FC: %zu (expected %zu); log records in the local folder (cache and backup "
                "files): %zu (expected %zu), of them copied to the remote folder by the end: %zu\n",
                writes.size(), 3 * alarms_.size(), RecordCount(logFolder_), 2 * alarms_.size(), RecordCount(remote));
    std::printf("debugger output (the copy thread's notes): %zu lines\n", DebugLines());
    return 0;
  }

 private:
  bool SetUp() {
    std::string plant = root_ + "/plant";
    fs::create_directories(plant);
    if (!GeneratePlant(plant, options_.producers, options_.blocks)) return Fail("plantgen failed");
    CResourceStringTable strings;
    if (!strings.Load(AE_STRINGS_XML)) return Fail("cannot load the string table");
    strings.Install();
    RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plant);
    if (FAILED(RegisterPlugin(RALTO_CONFIG_LIBRARY)) || FAILED(RegisterPlugin(RALTO_OPC_LIBRARY))) return Fail("cannot register the Ralto servers");
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kRaltoOpcProgId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer_.PutVoid())) ||
        FAILED(controlServer_.As(IID_IRaltoOpcControl, control_))) {
      return Fail("cannot create the Ralto OPC server");
    }
    control_->SetManualUpdates(true);
    control_->UseManualClock(PlantTime(0));

    logFolder_ = root_ + "/acklog";
    SetLocalPath(logFolder_);
    log_ = std::make_unique<CAlarmLog>();
    g_pAlarmLog = log_.get();

    core_ = std::make_unique<CServerCore>(&callback_, CAlarmProcessor::Timing(), clock_);
    if (!core_->Start()) return Fail("the server core did not start");
    auto deadline = SteadyClock::now() + std::chrono::seconds(120);
    while (core_->Manager()->connectionState != ConnectionManager::kConnected) {
      if (SteadyClock::now() > deadline) return Fail("no connection to the Ralto OPC server");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    control_->TickUpdates();  // the first cycle of the active group: every item

    if (FAILED(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                server_.PutVoid())))
      return Fail("cannot create the event server");
    ComPtr<IUnknown> subscription;
    DWORD revisedTime = 0, revisedSize = 0;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(server_->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSubscriptionMgt, subscription.Put(),
                                                &revisedTime, &revisedSize)) ||
        FAILED(subscription.As(IID_IOPCEventSubscriptionMgt, subscription_)) ||
        FAILED(subscription_.As(IID_IConnectionPointContainer, container)) ||
        FAILED(container->FindConnectionPoint(IID_IOPCEventSink, point.Put())) ||
        FAILED(point->Advise(static_cast<IOPCEventSink*>(sink_.Get()), &cookie))) {
      return Fail("cannot subscribe");
    }
    return PickAlarms();
  }

  // The first `alarms` sources by name that have a condition.
  bool PickAlarms() {
    TrackedMutexGuard config(g_ConfigMutex, AE_SITE);  // the sources' variables
    std::vector<CAESourcePtr> sources = g_SourceCache.Snapshot();
    sourceCount_ = sources.size();
    std::sort(sources.begin(), sources.end(),
              [](const CAESourcePtr& a, const CAESourcePtr& b) { return a->Name() < b->Name(); });
    for (const CAESourcePtr& s : sources) {
      auto* source = dynamic_cast<CDerivedSource*>(s.Get());
      AlarmVar* variable = source ? source->Variable() : nullptr;
      if (!variable || source->NumberOfConditions() == 0) continue;
      BYTE state = source->Kind() == kAlarmLevel ? 3 : source->Kind() == kAlarmRateOfChange ? 2 : 1;
      alarms_.push_back({variable->ItemId(), source->Name(), state});
      if (alarms_.size() == options_.alarms) return true;
    }
    return Fail("the plant has too few alarms; use more --blocks");
  }

  // The controller clears every alarm and raises it again with a new
  // activation time; then the client acknowledges each, every call timed.
  Round Measure(const char* name, int round) {
    Round result{name, 0, {}, 0};
    SetAll(0, true, PlantTime(60 * round - 30));
    WaitUntilAllInactive();
    FILETIME activation = PlantTime(60 * round);
    sink_->Await(activation);
    SetAll(-1, false, activation);
    if (!sink_->WaitFor(alarms_.size())) std::fprintf(stderr, "not every alarm came active\n");
    std::map<std::string, ActivationSink::Activation> activations = sink_->Take();

    result.latenciesUs.reserve(activations.size());
    std::vector<HRESULT> errors;
    auto start = SteadyClock::now();
    for (const auto& [source, a] : activations) {
      auto before = SteadyClock::now();
      HRESULT hr = server_->AckCondition(1, "operator1", "checked on site", &source, &a.condition, &a.activeTime,
                                         &a.cookie, &errors);
      auto after = SteadyClock::now();
      result.latenciesUs.push_back(std::chrono::duration<double, std::micro>(after - before).count());
      if (hr != S_OK) ++result.failures;
    }
    result.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    return result;
  }

  // Every alarm into `state` (-1: its alarm state) at `time`, published by
  // one update cycle.
  void SetAll(int state, BOOL acknowledged, FILETIME time) {
    RaltoAlarmSetting setting;
    setting.acknowledged = acknowledged;
    setting.flags = 0x01;
    setting.activation = time;
    for (const Alarm& a : alarms_) {
      setting.state = state < 0 ? a.state : BYTE(state);
      control_->SetAlarm(a.stateWord, setting);
    }
    control_->TickUpdates();
  }

  void WaitUntilAllInactive() {
    auto deadline = SteadyClock::now() + std::chrono::seconds(120);
    for (const Alarm& a : alarms_) {
      CAESourcePtr source = g_SourceCache.FindSource(a.source);
      CAECondition* condition = source ? source->GetConditionAt(0) : nullptr;
      while (condition && condition->Active() && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  static size_t RecordCount(const std::string& folder) {
    std::vector<AckRecord> records;
    ComPtr<ProgressHandle> progress = ProgressHandle::Create();
    ReadLogRecords(folder, LogFilter{}, records, *progress.Get());
    return records.size();
  }

  void TearDown() {
    subscription_.Reset();
    server_.Reset();
    if (core_) core_->Stop();
    g_pAlarmLog = nullptr;
    log_.reset();
    control_.Reset();
    controlServer_.Reset();
  }

  bool Fail(const char* what) {
    std::fprintf(stderr, "bench_callback: %s\n", what);
    return false;
  }

  const Options options_;
  const std::string root_;
  CLumAEServerCallback callback_;
  ae::ManualClock clock_;
  std::unique_ptr<CAlarmLog> log_;
  std::unique_ptr<CServerCore> core_;
  std::string logFolder_;
  ComPtr<IOPCServer> controlServer_;
  ComPtr<IRaltoOpcControl> control_;
  ComPtr<IOPCEventServer> server_;
  ComPtr<IOPCEventSubscriptionMgt> subscription_;
  ComPtr<ActivationSink> sink_ = ComPtr<ActivationSink>::Attach(new ActivationSink());
  std::vector<Alarm> alarms_;
  size_t sourceCount_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: bench_callback [--alarms N] [--producers P] [--blocks B]\n");
    return 2;
  }
  CBenchSandbox sandbox;
  if (sandbox.Root().empty()) return 1;
  SetDebugOutputSink([](const std::string&) { ++g_debugLines; });
  int result = Bench(options, sandbox.Root()).Run();
  return result;
}
