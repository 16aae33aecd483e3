// A stalled reader: several subscriber processes take the toolkit's events
// over D-Bus and measure each event's latency, from its creation in the
// toolkit (its time stamp) to its arrival; once alone, once beside one
// more subscriber that stops reading (SIGSTOP) after it subscribed, in the
// same run. Before each measurement a fill of more events than a client's
// queue holds goes through (in rounds the readers keep up with), so that
// the stalled client's queue is full while the latencies are measured.
// Afterwards the stalled client is woken, takes what is left for it and
// asks GetTransportStatistics for its drops.
// Goal: the readers' p99 with the stalled client within 20 % of it without.
//
//   bench_dbus_stalled [readers] [events/s] [seconds]   (defaults 4, 2000, 5)
//
// Runs on the session bus; without one it starts itself under
// dbus-run-session. The subscribers are this program again.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/dbus/bench_plant.h"
#include "bench/support/bench_timing.h"
#include "platform/class_factory.h"
#include "bench/dbus/subscriber_process.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/dbus/dbus_client.h"
#include "toolkit/dbus/dbus_transport.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

namespace {

constexpr double kGoalP99Growth = 1.2;
constexpr char kProgId[] = "Bench.DBusStalled.1";
constexpr char kMeasuredArea[] = "Plant/Measured/";
// {3F6A1D28-9C4B-4E07-8D15-B2A7C9E04F63}
constexpr CLSID kBenchClsid{0x3F6A1D28, 0x9C4B, 0x4E07, {0x8D, 0x15, 0xB2, 0xA7, 0xC9, 0xE0, 0x4F, 0x63}};
constexpr uint64_t kTicksFrom1601To1970 = 116'444'736'000'000'000ULL;
// Fill rounds: events per round, and enough of them to overflow a queue.
constexpr int kFillSources = 10'000;
constexpr uint64_t kFillRound = kFillSources * 3;
constexpr uint64_t kFillRounds = CAEDBusTransport::kOutboxLimit / kFillRound + 3;
// The stalled client counts as drained once nothing has come for this long.
constexpr int kQuietMs = 1000;

using Clock = std::chrono::steady_clock;

uint64_t NowTicks() {
  auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return kTicksFrom1601To1970 + std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
}

std::atomic<bool> g_continued{false};

// A reader: "ready", "got N" after each fill round, then its latencies in
// ms on one line ("latencies ...") once `measured` events of the measured
// area have come.
int Reader(uint64_t measured) {
  std::string error;
  auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  if (!client) return std::fprintf(stderr, "reader: %s\n", error.c_str()), 1;
  uint64_t filled = 0, reported = 0;
  std::vector<double> latencies;
  latencies.reserve(measured);
  CAEDBusClient::Filter filter;
  if (FAILED(client->Subscribe(0, 0, filter, [&](BOOL, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
        uint64_t now = NowTicks();
        for (const auto& e : events) {
          if (e.szSource.rfind(kMeasuredArea, 0) == 0) {
            latencies.push_back((double(now) - double(FileTimeToUint64(e.ftTime))) / 10'000.0);
          } else {
            ++filled;
          }
        }
      }))) {
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (latencies.size() < measured && client->Pump(100)) {
    while (filled >= reported + kFillRound) {
      reported += kFillRound;
      std::printf("got %llu\n", static_cast<unsigned long long>(reported));
      std::fflush(stdout);
    }
  }
  std::ostringstream line;
  line << "latencies";
  for (double l : latencies) line << ' ' << l;
  std::printf("%s\n", line.str().c_str());
  return latencies.size() >= measured ? 0 : 1;
}

// The stalled client: "ready", then stopped from outside; once continued
// it takes what comes until the bus is quiet and says
// "received R dropped D" (D from GetTransportStatistics).
int Stalled() {
  std::signal(SIGCONT, [](int) { g_continued = true; });
  std::string error;
  auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  if (!client) return std::fprintf(stderr, "stalled: %s\n", error.c_str()), 1;
  uint64_t received = 0;
  CAEDBusClient::Filter filter;
  if (FAILED(client->Subscribe(0, 0, filter, [&](BOOL, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
        received += events.size();
      }))) {
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (!g_continued) pause();
  uint64_t seen = received;
  do {
    seen = received;
    if (!client->Pump(kQuietMs)) return 1;
  } while (received != seen);
  CAEDBusTransport::Stats stats;
  uint64_t dropped = 0;
  if (FAILED(client->GetTransportStatistics(&stats, &dropped))) return 1;
  std::printf("received %llu dropped %llu\n", static_cast<unsigned long long>(received),
              static_cast<unsigned long long>(dropped));
  return 0;
}

struct CResult {
  bool ok = false;
  std::vector<double> latencies;  // ms, every reader's, sorted
  double p50 = 0, p99 = 0, max = 0;
  uint64_t stalledGenerated = 0, stalledReceived = 0, stalledDropped = 0;
  double serverCpu = 0;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CRun {
 public:
  CRun(const std::vector<CAECondition*>& fill, const std::vector<CAECondition*>& measured, int rate, int seconds)
      : fill_(fill), measured_(measured), rate_(rate), seconds_(seconds) {}

  CResult Measure(int readers, bool withStalled) {
    CResult result;
    const uint64_t measuredEvents = uint64_t(rate_) * seconds_;
    std::vector<std::unique_ptr<CSubscriberProcess>> children;
    for (int i = 0; i < readers; ++i) {
      children.push_back(std::make_unique<CSubscriberProcess>(
          std::vector<std::string>{"--reader", std::to_string(measuredEvents)}));
    }
    std::unique_ptr<CSubscriberProcess> stalled;
    if (withStalled) stalled = std::make_unique<CSubscriberProcess>(std::vector<std::string>{"--stalled"});
    for (auto& child : children) {
      if (child->Line() != "ready") return result;
    }
    if (stalled) {
      if (stalled->Line() != "ready") return result;
      stalled->Stop();
    }
    // The fill, in rounds that the readers keep up with.
    for (uint64_t r = 1; r <= kFillRounds; ++r) {
      for (CAECondition* c : fill_) Cycle(c);
      std::string expected = "got " + std::to_string(r * kFillRound);
      for (auto& child : children) {
        if (child->Line() != expected) return result;
      }
    }
    // The measured events, at an even pace in 10 ms steps, each stamped
    // with its creation time.
    double cpuStart = CpuSeconds();
    auto start = Clock::now();
    uint64_t made = 0;
    size_t next = 0;
    for (uint64_t step = 1; made < measuredEvents; ++step) {
      uint64_t due = std::min<uint64_t>(measuredEvents, step * uint64_t(rate_) / 100);
      for (; made < due; ++made) {
        CAECondition* c = measured_[next++ % measured_.size()];
        FILETIME t = Uint64ToFileTime(NowTicks());
        if (c->Active()) {
          c->Deactivate("Flow normal", false, &t);
        } else {
          c->Activate("Hi", "Flow high", false, &t);
        }
      }
      std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * step));
    }
    for (auto& child : children) {
      std::string line = child->Line();
      if (line.rfind("latencies", 0) != 0) return result;
      std::istringstream values(line.substr(9));
      for (double v; values >> v;) result.latencies.push_back(v);
    }
    result.serverCpu = CpuSeconds() - cpuStart;
    if (stalled) {
      stalled->Continue();
      std::istringstream line(stalled->Line());
      std::string received, dropped;
      line >> received >> result.stalledReceived >> dropped >> result.stalledDropped;
      if (received != "received") return result;
      result.stalledGenerated = kFillRounds * kFillRound + measuredEvents;
    }
    std::sort(result.latencies.begin(), result.latencies.end());
    if (result.latencies.empty()) return result;
    auto at = [&](double q) {
      return result.latencies[std::min(result.latencies.size() - 1, size_t(q * result.latencies.size()))];
    };
    result.p50 = at(0.5);
    result.p99 = at(0.99);
    result.max = result.latencies.back();
    result.ok = true;
    return result;
  }

 private:
  static void Cycle(CAECondition* c) {
    FILETIME t = Uint64ToFileTime(NowTicks());
    c->Activate("Hi", "Flow high", true, &t);
    c->Acknowledge("operator", "", &t);
    c->Deactivate("Flow normal", true, &t);
  }

  const std::vector<CAECondition*>& fill_;
  const std::vector<CAECondition*>& measured_;
  const int rate_;
  const int seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--reader") == 0) return Reader(std::strtoull(argv[2], nullptr, 10));
  if (argc == 2 && std::strcmp(argv[1], "--stalled") == 0) return Stalled();
  if (!OnSessionBus(argc, argv)) return 1;
  int readers = argc > 1 ? std::atoi(argv[1]) : 4;
  int rate = argc > 2 ? std::atoi(argv[2]) : 2000;
  int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
  if (readers <= 0 || rate <= 0 || rate > 100'000 || seconds <= 0) {
    std::fprintf(stderr, "usage: bench_dbus_stalled [readers] [events/s <= 100000] [seconds]\n");
    return 2;
  }

  if (!InitializeLevelToolkit(kBenchClsid)) return 1;
  std::vector<CAECondition*> fill = AddLevelSources("Plant/Fill/", kFillSources);
  std::vector<CAECondition*> measured = AddLevelSources(kMeasuredArea, 1000);
  CAEDBusTransport transport;
  std::string error;
  if (transport.Start(kBenchClsid, kProgId, AeDBusBus::kSession, &error) != AeDBusStart::kStarted) {
    std::fprintf(stderr, "bench_dbus_stalled: %s\n", error.c_str());
    return 1;
  }
  CRun run(fill, measured, rate, seconds);
  CResult alone = run.Measure(readers, false);
  CResult beside = alone.ok ? run.Measure(readers, true) : CResult{};
  transport.Stop();
  g_ServerInterface.Uninitialize();
  g_SourceCache.Clear(1);
  if (!alone.ok || !beside.ok) return std::fprintf(stderr, "bench_dbus_stalled: a subscriber failed\n"), 1;

  std::printf("%d readers, %d events/s for %d s (after a fill of %llu events):\n", readers, rate, seconds,
              static_cast<unsigned long long>(kFillRounds * kFillRound));
  auto print = [](const char* what, const CResult& r) {
    std::printf("  %-26s latency p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu samples); server CPU %.2f s\n", what,
                r.p50, r.p99, r.max, r.latencies.size(), r.serverCpu);
  };
  print("alone:", alone);
  print("beside a stalled client:", beside);
  std::printf("stalled client: %llu events for it, %llu received once woken, %llu dropped "
              "(GetTransportStatistics), %llu unaccounted\n",
              static_cast<unsigned long long>(beside.stalledGenerated),
              static_cast<unsigned long long>(beside.stalledReceived),
              static_cast<unsigned long long>(beside.stalledDropped),
              static_cast<unsigned long long>(beside.stalledGenerated - std::min(beside.stalledGenerated,
                                                                                 beside.stalledReceived +
                                                                                     beside.stalledDropped)));
  double growth = beside.p99 / alone.p99;
  std::printf("p99 beside / alone: %.2f (goal <= %.2f: %s)\n", growth, kGoalP99Growth,
              growth <= kGoalP99Growth ? "met" : "missed");
  return 0;
}
