// The alarm road on a generated plant of >= 100,000 alarm variables, from a
// simulated controller's change to the condition event in an in-process
// OPC AE subscription, through the server core (connection manager, data
// callback, alarm processor, toolkit):
//   - sustained changes per second: rounds of controller changes on
//     distinct alarms, each carried by one update cycle (goal >= 20,000/s);
//   - latency p50 / p99 at 2,000 changes per second with the server's own
//     update thread and a group update period of 100 ms (goal: p99 <= the
//     period + 50 ms);
//   - --callgrind ROUNDS: a small fixed run for bench/alarmproc/callgrind.sh
//     (instructions per change), printing only the number of changes made.
//
//   bench_alarmproc [--producers N] [--blocks M] [--callgrind ROUNDS]
//     (default 10 x 1,210 blocks: >= 100,000 alarm variables)
// Runs in a private registry store and a temporary plant directory, both
// removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/support/bench_plant.h"
#include "alarmconfig/source_name.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/connection_manager.h"
#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_control.h"
#include "ralto/opc_server.h"
#include "server/server_core.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/opcae.h"
#include "toolkit/source_cache.h"

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

constexpr double kGoalChangesPerSecond = 20'000;
constexpr double kLatencyRate = 2'000;  // changes per second
constexpr double kLatencySeconds = 5;
constexpr DWORD kUpdatePeriodMs = 100;
constexpr double kLatencyGoalBeyondPeriodMs = 50;
constexpr size_t kChangesPerRound = 20'000;
constexpr int kRounds = 6;  // even: every alarm ends off

double Seconds(Steady::time_point since) { return std::chrono::duration<double>(Steady::now() - since).count(); }

// Counts events and keeps when each source's latest event arrived.
class ArrivalSink final : public IOPCEventSink {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IOPCEventSink) return E_NOINTERFACE;
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
    Steady::time_point now = Steady::now();
    {
      std::lock_guard lock(mutex_);
      if (recording_) {
        for (DWORD i = 0; i < count; ++i) arrivals_[events[i].szSource] = now;
      }
      count_ += count;
    }
    cv_.notify_all();
    return S_OK;
  }
  // Waits until `count` events in all have come; false after 120 s.
  bool WaitForCount(uint64_t count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(120), [&] { return count_ >= count; });
  }
  uint64_t Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  void Record(bool on) {
    std::lock_guard lock(mutex_);
    recording_ = on;
    arrivals_.clear();
  }
  std::unordered_map<std::string, Steady::time_point> Arrivals() {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }

 private:
  ~ArrivalSink() = default;
  ComRefCount refs_;
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t count_ = 0;
  bool recording_ = false;
  std::unordered_map<std::string, Steady::time_point> arrivals_;
};

struct Alarm {
  std::string word;    // the state word's item id
  std::string source;  // its source name
  BYTE onState;        // HiHi for a level alarm, 1 for a bit alarm
};

// Every level and bit alarm of the connection whose source exists.
std::vector<Alarm> Alarms(ConnectionManager& manager) {
  std::vector<Alarm> alarms;
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  for (const auto& [id, variable] : manager.client->itemMap) {
    if (variable.KindSuffix() != ".AS") continue;
    bool digital = variable.blockType.find("O0D") != std::string::npos;
    std::string source = BuildSourceName(SourceBaseName(variable), digital ? kAlarmBit : kAlarmLevel);
    if (g_SourceCache.GetSource(source)) alarms.push_back({id, source, BYTE(digital ? 1 : 4)});
  }
  std::sort(alarms.begin(), alarms.end(), [](const Alarm& a, const Alarm& b) { return a.word < b.word; });
  return alarms;
}

// Turns `alarm` on or off at the controller, unacknowledged.
void Change(IRaltoOpcControl& control, const Alarm& alarm, bool on, FILETIME time) {
  RaltoAlarmSetting setting;
  setting.state = on ? alarm.onState : 0;
  setting.acknowledged = false;
  setting.flags = 0x01;
  setting.activation = time;
  if (!on) setting.returnToNormal = time;
  control.SetAlarm(alarm.word, setting);
}

struct Options {
  int producers = 10;
  int blocks = 1210;
  int callgrindRounds = -1;  // >= 0: the callgrind run
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--producers") == 0) {
      options.producers = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--blocks") == 0) {
      options.blocks = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--callgrind") == 0) {
      options.callgrindRounds = std::atoi(argv[i + 1]);
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && options.producers > 0 && options.blocks > 0;
}

class Bench {
 public:
  explicit Bench(const Options& options) : options_(options) {}

  int Run(const std::string& plantDir) {
    if (!Start(plantDir)) return 1;
    if (options_.callgrindRounds >= 0) {
      size_t count = std::min<size_t>(alarms_.size(), 200);
      Rounds(count, options_.callgrindRounds);
      std::printf("changes: %zu\n", count * size_t(options_.callgrindRounds));
    } else {
      Throughput();
      Latency();
    }
    Stop();
    return 0;
  }

 private:
  bool Start(const std::string& plantDir) {
    bool quiet = options_.callgrindRounds >= 0;
    if (!GeneratePlant(plantDir, options_.producers, options_.blocks)) return Fail("plantgen failed");
    RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plantDir);
    if (FAILED(RegisterPlugin(RALTO_CONFIG_LIBRARY)) || FAILED(RegisterPlugin(RALTO_OPC_LIBRARY))) return Fail("cannot register the Ralto servers");
    ConnectionManager::WriteSettings(kRaltoOpcProgId, kUpdatePeriodMs);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kRaltoOpcProgId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer_.PutVoid())) ||
        FAILED(controlServer_.As(IID_IRaltoOpcControl, control_)))
      return Fail("cannot create the Ralto OPC server");
    control_->SetManualUpdates(true);

    auto start = Steady::now();
    if (!core_.Start()) return Fail("the server core does not start");
    ConnectionManager& manager = *core_.Manager();
    while (manager.connectionState == ConnectionManager::kConnecting && Seconds(start) < 600)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (manager.connectionState != ConnectionManager::kConnected) return Fail("no connection");
    double connectSeconds = Seconds(start);

    if (FAILED(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer,
                                server_.PutVoid())))
      return Fail("no event server");
    ComPtr<IUnknown> unknown;
    DWORD buffer = 0, maxSize = 0;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(server_->CreateEventSubscription(true, 0, 0, 1, IID_IOPCEventSubscriptionMgt, unknown.Put(),
                                                &buffer, &maxSize)) ||
        FAILED(unknown.As(IID_IOPCEventSubscriptionMgt, subscription_)) ||
        FAILED(subscription_.As(IID_IConnectionPointContainer, container)) ||
        FAILED(container->FindConnectionPoint(IID_IOPCEventSink, point.Put())) ||
        FAILED(point->Advise(static_cast<IOPCEventSink*>(sink_.Get()), &cookie)))
      return Fail("no subscription");

    // The first cycle reports every item; each source gets its message.
    size_t variables = 0;
    {
      TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
      variables = manager.client->itemMap.size();
    }
    size_t sources = static_cast<size_t>(g_SourceCache.NumberOfSources());
    start = Steady::now();
    control_->TickUpdates();
    if (!sink_->WaitForCount(sources)) return Fail("the first cycle did not reach every source");
    double firstSeconds = Seconds(start);
    alarms_ = Alarms(manager);
    if (quiet) return true;
    std::printf("plant: %d producers x %d blocks: %zu alarm variables, %zu sources, %zu level/bit alarms\n",
                options_.producers, options_.blocks, variables, sources, alarms_.size());
    std::printf("%-58s %8.3f s\n", "start and connect (import, items, sources)", connectSeconds);
    std::printf("%-58s %8.3f s (%.0f variables/s)\n", "first update cycle: every variable read, every source",
                firstSeconds, double(variables) / firstSeconds);
    return true;
  }

  // `rounds` rounds of one change on each of the first `count` alarms,
  // each round one update cycle; waits for every event.
  double Rounds(size_t count, int rounds) {
    double seconds = 0;
    for (int r = 0; r < rounds; ++r) {
      uint64_t expected = sink_->Count() + count;
      bool on = (round_++ % 2) == 0;
      FILETIME time = Uint64ToFileTime(FileTimeToUint64(GetSystemTimeAsFileTime()) / 10'000'000 * 10'000'000);
      auto start = Steady::now();
      for (size_t i = 0; i < count; ++i) Change(*control_.Get(), alarms_[i], on, time);
      control_->TickUpdates();
      if (!sink_->WaitForCount(expected)) {
        std::fprintf(stderr, "round %d: events missing\n", r);
        return 0;
      }
      seconds += Seconds(start);
    }
    return seconds;
  }

  void Throughput() {
    size_t count = std::min(alarms_.size(), kChangesPerRound);
    double seconds = Rounds(count, kRounds);
    if (seconds <= 0) return;
    double perSecond = double(count) * kRounds / seconds;
    std::printf("%-58s %8zu changes in %6.3f s: %9.0f changes/s, %5.2f x the goal of >= %.0f/s\n",
                "sustained: controller change -> subscription event", count * kRounds, seconds, perSecond,
                perSecond / kGoalChangesPerSecond, kGoalChangesPerSecond);
  }

  // Paced changes on alarms not used before, the server's update thread
  // delivering every 100 ms.
  void Latency() {
    // Every alarm is off after an even number of rounds.
    size_t total = std::min(alarms_.size(), size_t(kLatencyRate * kLatencySeconds));
    if (total == 0) {
      std::fprintf(stderr, "latency: no alarm left to change\n");
      return;
    }
    sink_->Record(true);
    control_->SetManualUpdates(false);
    std::unordered_map<std::string, Steady::time_point> changed;
    uint64_t expected = sink_->Count() + total;
    auto start = Steady::now();
    FILETIME time = GetSystemTimeAsFileTime();
    for (size_t i = 0; i < total; ++i) {
      auto due = start + std::chrono::microseconds(int64_t(double(i) * 1e6 / kLatencyRate));
      std::this_thread::sleep_until(due);
      const Alarm& alarm = alarms_[i];
      changed[alarm.source] = Steady::now();
      Change(*control_.Get(), alarm, true, time);
    }
    bool complete = sink_->WaitForCount(expected);
    control_->SetManualUpdates(true);
    std::vector<double> latencies;
    for (const auto& [source, arrived] : sink_->Arrivals()) {
      auto it = changed.find(source);
      if (it != changed.end()) latencies.push_back(std::chrono::duration<double, std::milli>(arrived - it->second).count());
    }
    sink_->Record(false);
    if (!complete || latencies.empty()) {
      std::fprintf(stderr, "latency: events missing\n");
      return;
    }
    std::sort(latencies.begin(), latencies.end());
    double p50 = latencies[latencies.size() / 2];
    double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    double goal = kUpdatePeriodMs + kLatencyGoalBeyondPeriodMs;
    std::printf("%-58s %8zu changes: p50 %6.1f ms, p99 %6.1f ms, max %6.1f ms\n",
                "latency at 2,000 changes/s, update period 100 ms", latencies.size(), p50, p99, latencies.back());
    std::printf("%-58s p99 %5.2f x the goal of <= %.0f ms (period + %.0f ms)\n", "", p99 / goal, goal,
                kLatencyGoalBeyondPeriodMs);
  }

  void Stop() {
    subscription_.Reset();
    server_.Reset();
    core_.Stop();
  }

  static bool Fail(const char* why) {
    std::fprintf(stderr, "bench_alarmproc: %s\n", why);
    return false;
  }

  const Options options_;
  CServerCore core_;
  ComPtr<IOPCServer> controlServer_;
  ComPtr<IRaltoOpcControl> control_;
  ComPtr<IOPCEventServer> server_;
  ComPtr<IOPCEventSubscriptionMgt> subscription_;
  ComPtr<ArrivalSink> sink_ = ComPtr<ArrivalSink>::Attach(new ArrivalSink);
  std::vector<Alarm> alarms_;
  int round_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: bench_alarmproc [--producers N] [--blocks M] [--callgrind ROUNDS]\n");
    return 2;
  }
  CBenchSandbox sandbox;
  if (sandbox.Root().empty()) return 1;
  std::string plantDir = sandbox.Root() + "/plant";
  fs::create_directories(plantDir);
  int result = Bench(options).Run(plantDir);
  return result;
}
