// Fan-out: condition events from the toolkit over D-Bus to 10 subscriber
// processes against the same to 1 subscriber process, in one run. Each
// subscriber receives every event; the events go in rounds, each round
// waiting until every subscriber has its events, so that no queue
// overflows. The cost of an event generated is the serving process's CPU
// time (getrusage: the alarm road, the delivery thread and the transport's
// bus thread) and the wall time until the last subscriber has it.
// Goal: 10 subscribers cost at most 10 times one, in CPU and wall time.
//
//   bench_dbus_fanout [sources] [rounds]   (defaults 5000 and 8; 3 events
//                                            per source and round)
//
// Runs on the session bus; without one it starts itself under
// dbus-run-session. The subscribers are this program again (--subscriber).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
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

constexpr int kFanOut = 10;
constexpr double kGoalRatio = kFanOut;
constexpr char kProgId[] = "Bench.DBusFanOut.1";
// {8E2B7C41-3D5A-4F19-B6C2-9A0D1E3F5B72}
constexpr CLSID kBenchClsid{0x8E2B7C41, 0x3D5A, 0x4F19, {0xB6, 0xC2, 0x9A, 0x0D, 0x1E, 0x3F, 0x5B, 0x72}};

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The subscriber: "ready" once advised, then "got N" each time another
// `round` events have come, until `total`.
int Subscriber(uint64_t round, uint64_t total) {
  std::string error;
  auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  if (!client) return std::fprintf(stderr, "subscriber: %s\n", error.c_str()), 1;
  uint64_t received = 0, reported = 0;
  CAEDBusClient::Filter filter;
  if (FAILED(client->Subscribe(0, 0, filter, [&](BOOL, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
        received += events.size();
      }))) {
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (reported < total && client->Pump(100)) {
    while (received >= reported + round) {
      reported += round;
      std::printf("got %llu\n", static_cast<unsigned long long>(reported));
      std::fflush(stdout);
    }
  }
  return reported >= total ? 0 : 1;
}

struct CCost {
  double cpu = 0;   // s
  double wall = 0;  // s
  uint64_t events = 0;
  uint64_t dropped = 0;
  bool ok = false;
};

CCost Run(int subscribers, const std::vector<CAECondition*>& conditions, int rounds, CAEDBusTransport& transport) {
  const uint64_t round = conditions.size() * 3;
  std::vector<std::unique_ptr<CSubscriberProcess>> children;
  for (int i = 0; i < subscribers; ++i) {
    children.push_back(std::make_unique<CSubscriberProcess>(std::vector<std::string>{
        "--subscriber", std::to_string(round), std::to_string(round * rounds)}));
  }
  CCost cost;
  for (auto& child : children) {
    if (child->Line() != "ready") return cost;
  }
  uint64_t droppedBefore = transport.GetStats().eventsDropped;
  static uint64_t tick = 1;
  double cpuStart = CpuSeconds();
  auto start = Clock::now();
  for (int r = 0; r < rounds; ++r) {
    for (CAECondition* condition : conditions) {
      FILETIME t = Uint64ToFileTime(++tick);
      condition->Activate("Hi", "Flow high", true, &t);
      condition->Acknowledge("operator", "", &t);
      condition->Deactivate("Flow normal", true, &t);
    }
    std::string expected = "got " + std::to_string(round * (r + 1));
    for (auto& child : children) {
      if (child->Line() != expected) return cost;
    }
  }
  cost.wall = Seconds(Clock::now() - start);
  cost.cpu = CpuSeconds() - cpuStart;
  cost.events = round * rounds;
  cost.dropped = transport.GetStats().eventsDropped - droppedBefore;
  cost.ok = true;
  return cost;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--subscriber") == 0) {
    return Subscriber(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10));
  }
  if (!OnSessionBus(argc, argv)) return 1;
  int sources = argc > 1 ? std::atoi(argv[1]) : 5000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 8;
  // A round must fit the subscription's queue and the client's outbox.
  if (sources <= 0 || rounds <= 0 || size_t(sources) * 3 > CAEDBusTransport::kOutboxLimit / 2) {
    std::fprintf(stderr, "usage: bench_dbus_fanout [sources] [rounds]  (3 x sources <= %zu)\n",
                 CAEDBusTransport::kOutboxLimit / 2);
    return 2;
  }

  if (!InitializeLevelToolkit(kBenchClsid)) return 1;
  std::vector<CAECondition*> conditions = AddLevelSources("Plant/", sources, 100);
  CAEDBusTransport transport;
  std::string error;
  if (transport.Start(kBenchClsid, kProgId, AeDBusBus::kSession, &error) != AeDBusStart::kStarted) {
    std::fprintf(stderr, "bench_dbus_fanout: %s\n", error.c_str());
    return 1;
  }
  CCost one = Run(1, conditions, rounds, transport);
  CCost many = one.ok ? Run(kFanOut, conditions, rounds, transport) : CCost{};
  transport.Stop();
  g_ServerInterface.Uninitialize();
  g_SourceCache.Clear(1);
  if (!one.ok || !many.ok) return std::fprintf(stderr, "bench_dbus_fanout: a subscriber failed\n"), 1;

  auto print = [](int n, const CCost& c) {
    std::printf("%2d subscriber%s: %llu events generated, each delivered %d times, %.2f s wall, %.2f s CPU of the "
                "server; %.0f events/s generated, %.0f deliveries/s; %.2f us CPU and %.2f us wall per event; "
                "dropped %llu\n",
                n, n == 1 ? " " : "s", static_cast<unsigned long long>(c.events), n, c.wall, c.cpu,
                c.events / c.wall, n * c.events / c.wall, 1e6 * c.cpu / c.events, 1e6 * c.wall / c.events,
                static_cast<unsigned long long>(c.dropped));
  };
  print(1, one);
  print(kFanOut, many);
  double cpuRatio = many.cpu / one.cpu;
  double wallRatio = many.wall / one.wall;
  std::printf("cost of %d subscribers / 1: CPU %.2f, wall %.2f (goal <= %.0f: %s)\n", kFanOut, cpuRatio, wallRatio,
              kGoalRatio, cpuRatio <= kGoalRatio && wallRatio <= kGoalRatio ? "met" : "missed");
  return 0;
}
