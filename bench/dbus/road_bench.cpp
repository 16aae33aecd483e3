// The alarm road across processes: the program aeserver with its simulated
// plant making 2,000 random changes a second, a group update period of
// 100 ms, and a subscriber here that takes the events over D-Bus. Under
// that load a probe raises HiHi on one level alarm after another through
// the plant's control on the bus; the latency of a probe is the arrival of
// its event here less the moment it was raised. (The controllers' time
// stamps carry whole seconds, so they cannot time the road; a probe's
// activation time, a second of 2020 of its own, only names its event.)
// Goal: p99 <= the period + 50 ms.
//
//   bench_dbus_road [seconds] [changes/s]   (defaults 30 and 2000)
//
// Runs on a session bus of its own (dbus-run-session with its own
// activation folder), with a registry store and data folder of its own in a
// temporary folder.
#include <sys/wait.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/com.h"
#include "toolkit/dbus/dbus_client.h"
#include "toolkit/opcae.h"

namespace {

constexpr int kUpdatePeriodMs = 100;
constexpr double kGoalMs = kUpdatePeriodMs + 50;
constexpr char kProgId[] = "Corvane.OPCAEqrxServer.1";
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr char kDirVariable[] = "BENCH_DBUS_ROAD_DIR";
constexpr uint64_t kTicksFrom1601To1970 = 116'444'736'000'000'000ULL;
// 2020-01-01 00:00:00 UTC: probe n is activated at this plus n seconds.
constexpr uint64_t kProbeEpoch = kTicksFrom1601To1970 + 1'577'836'800ULL * kTicksPerSecond;
constexpr char kPlantName[] = "Brixham.RaltoOPC";
constexpr char kPlantInterface[] = "Brixham.RaltoOPC.Control";
constexpr uint8_t kHiHi = 4;
constexpr uint8_t kAlarmEnabled = 1;

// Probes raised from their own thread and connection, and the arrivals of
// their events, which the subscriber's thread reports.
class CProbes {
 public:
  explicit CProbes(std::vector<std::string> items) : items_(std::move(items)) {}

  // Raises one probe after another until `stop`, each waited for (at most
  // a second), then cleared.
  void Run(const std::atomic<bool>& stop) {
    auto bus = sdbus::createSessionBusConnection();
    auto plant = sdbus::createProxy(*bus, kPlantName, "/Control");
    for (uint32_t n = 0; !stop; ++n) {
      const std::string& item = items_[n % items_.size()];
      uint64_t activation = kProbeEpoch + n * kTicksPerSecond;
      {
        std::lock_guard lock(mutex_);
        raised_[n] = std::chrono::steady_clock::now();
      }
      plant->callMethod("SetAlarm").onInterface(kPlantInterface)
          .withArguments(item, kHiHi, false, kAlarmEnabled, activation, uint64_t{0}, uint64_t{0});
      {
        std::unique_lock lock(mutex_);
        arrivedCv_.wait_for(lock, std::chrono::seconds(1), [&] { return latencies_.count(n) != 0; });
      }
      plant->callMethod("Clear").onInterface(kPlantInterface).withArguments(item);
      std::this_thread::sleep_for(std::chrono::milliseconds(2 * kUpdatePeriodMs));
    }
  }

  // The subscriber's thread: an event whose time names a probe.
  void Arrived(uint64_t eventTime) {
    if (eventTime < kProbeEpoch || (eventTime - kProbeEpoch) % kTicksPerSecond) return;
    uint32_t n = static_cast<uint32_t>((eventTime - kProbeEpoch) / kTicksPerSecond);
    auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    auto raised = raised_.find(n);
    if (raised == raised_.end() || latencies_.count(n)) return;
    latencies_[n] = std::chrono::duration<double, std::milli>(now - raised->second).count();
    arrivedCv_.notify_all();
  }

  size_t Raised() {
    std::lock_guard lock(mutex_);
    return raised_.size();
  }
  std::vector<double> Latencies() {
    std::lock_guard lock(mutex_);
    std::vector<double> out;
    for (const auto& [n, ms] : latencies_) out.push_back(ms);
    return out;
  }

 private:
  const std::vector<std::string> items_;
  std::mutex mutex_;
  std::condition_variable arrivedCv_;
  std::map<uint32_t, std::chrono::steady_clock::time_point> raised_;
  std::map<uint32_t, double> latencies_;
};

// The level alarms of the plant, from its control.
std::vector<std::string> LevelAlarms() {
  auto bus = sdbus::createSessionBusConnection();
  auto plant = sdbus::createProxy(*bus, kPlantName, "/Control");
  using Alarm = sdbus::Struct<std::string, std::string, uint8_t, bool, uint8_t, uint64_t, uint64_t, uint64_t>;
  using Block = sdbus::Struct<std::string, std::string, double, std::vector<std::string>, std::vector<Alarm>>;
  std::vector<Block> blocks;
  plant->callMethod("ListBlocks").onInterface(kPlantInterface).withArguments(std::string()).storeResultsTo(blocks);
  std::vector<std::string> items;
  for (const auto& block : blocks) {
    for (const auto& alarm : block.get<4>()) {
      if (alarm.get<1>() == "level") items.push_back(alarm.get<0>());
    }
  }
  return items;
}

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  int rate = argc > 2 ? std::atoi(argv[2]) : 2000;
  if (seconds <= 0 || rate <= 0) {
    std::fprintf(stderr, "usage: bench_dbus_road [seconds] [changes/s]\n");
    return 2;
  }
  // First a bus of our own, whose daemon and the server it starts inherit
  // the folders set here.
  if (!std::getenv(kDirVariable)) {
    char dirTemplate[] = "/tmp/bench_dbus_road.XXXXXX";
    if (!mkdtemp(dirTemplate)) return 1;
    std::string dir = dirTemplate;
    std::ofstream(dir + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir=" << dir << "</listen>"
        << "<servicedir>" << dir << "/dbus-1/services</servicedir>"
        << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    setenv(kDirVariable, dir.c_str(), 1);
    setenv("AE_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TZ", "UTC", 1);  // the controller's time stamps are its local time
    std::string config = "--config-file=" + dir + "/bus.conf";
    std::vector<char*> args{const_cast<char*>("dbus-run-session"), config.data(), const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("dbus-run-session", args.data());
    std::perror("dbus-run-session");
    return 1;
  }
  const std::string dir = std::getenv(kDirVariable);
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  std::string bin(self);
  bin.erase(bin.rfind('/'));

  const std::string item0 = "\"HKLM\\SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0\"";
  const std::string ralto = "\"HKLM\\SOFTWARE\\Ralto\\OPC Server\"";
  if (Run(bin + "/regsvr /s " + bin + "/libralto_config.so") || Run(bin + "/regsvr /s " + bin + "/libralto_opc.so") ||
      Run(bin + "/aeserver -RegServer") ||
      Run(bin + "/aereg add " + item0 + " /v ServerName /t REG_SZ /d Brixham.RaltoOPC /f") ||
      Run(bin + "/aereg add " + item0 + " /v UpdateRateMS /t REG_DWORD /d " + std::to_string(kUpdatePeriodMs) +
          " /f") ||
      Run(bin + "/aereg add " + ralto + " /v RandomChangesPerSecond /t REG_DWORD /d " + std::to_string(rate) +
          " /f")) {
    std::fprintf(stderr, "bench_dbus_road: cannot register the programs in %s\n", dir.c_str());
    return 1;
  }

  // The first call starts the server through activation, as a client's does.
  std::string error;
  auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  if (!client) return std::fprintf(stderr, "bench_dbus_road: %s\n", error.c_str()), 1;
  OPCEVENTSERVERSTATUS status;
  if (FAILED(client->GetStatus(&status))) {
    return std::fprintf(stderr, "bench_dbus_road: no server: %s\n", client->LastError().c_str()), 1;
  }
  std::vector<std::string> items;
  try {
    items = LevelAlarms();
  } catch (const sdbus::Error& e) {
    return std::fprintf(stderr, "bench_dbus_road: the plant's control: %s\n", e.getMessage().c_str()), 1;
  }
  if (items.empty()) return std::fprintf(stderr, "bench_dbus_road: the plant has no level alarms\n"), 1;
  CProbes probes(items);
  size_t events = 0;
  bool measuring = false;
  CAEDBusClient::Filter filter;
  HRESULT hr = client->Subscribe(0, 0, filter, [&](BOOL refresh, BOOL, const std::vector<ONEVENTSTRUCT>& batch) {
    if (refresh) return;
    for (const auto& e : batch) probes.Arrived(FileTimeToUint64(e.ftTime));
    if (measuring) events += batch.size();
  });
  if (FAILED(hr)) return std::fprintf(stderr, "bench_dbus_road: subscribe: 0x%08X\n", unsigned(hr)), 1;
  // The connection and the first update cycles first.
  auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < warm) client->Pump(100);
  measuring = true;
  std::atomic<bool> stop{false};
  std::thread prober([&] {
    try {
      probes.Run(stop);
    } catch (const sdbus::Error& e) {
      std::fprintf(stderr, "bench_dbus_road: probe: %s\n", e.getMessage().c_str());
    }
  });
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool lost = false;
  while (!lost && std::chrono::steady_clock::now() < end) lost = !client->Pump(100);
  stop = true;
  // The last probe's event may still be on its way.
  auto drain = std::chrono::steady_clock::now() + std::chrono::milliseconds(1100);
  while (!lost && std::chrono::steady_clock::now() < drain) lost = !client->Pump(50);
  prober.join();
  if (lost) return std::fprintf(stderr, "bench_dbus_road: connection lost\n"), 1;
  CAEDBusTransport::Stats stats;
  uint64_t droppedForMe = 0;
  client->GetTransportStatistics(&stats, &droppedForMe);
  client.reset();  // the last client: the server ends
  for (int i = 0; i < 100 && Run("dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                                 "org.freedesktop.DBus.NameHasOwner string:Corvane.OPCAEqrxServer._1 | "
                                 "grep -q true") == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Run("rm -rf " + dir);

  std::vector<double> latencies = probes.Latencies();
  if (latencies.empty()) return std::fprintf(stderr, "bench_dbus_road: no probe arrived\n"), 1;
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))]; };
  double p99 = at(0.99);
  std::printf("%d random changes/s, update period %d ms, %d s: %zu events (%.0f/s), dropped for this client %llu\n",
              rate, kUpdatePeriodMs, seconds, events, events / double(seconds),
              static_cast<unsigned long long>(droppedForMe));
  std::printf("%zu probes raised, %zu arrived (a probe the random plant overwrote before an update shows no event)\n",
              probes.Raised(), latencies.size());
  std::printf("latency controller change -> other process: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", at(0.5), p99,
              latencies.back());
  std::printf("p99 %.2f x the goal of <= %.0f ms (period + 50 ms)\n", p99 / kGoalMs, kGoalMs);
  return 0;
}
