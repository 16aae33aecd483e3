// Events per second from the toolkit to one subscriber in another process
// over D-Bus, against bare sdbus-c++ carrying batches of the same count and
// size between the same two processes, in the same run. Goals: >= 50 % of
// the bare rate and >= 100,000 events/s.
//
//   bench_dbus [sources] [cycles]   (defaults 10000 and 4; 3 events per
//                                    source and cycle)
//
// Runs on the session bus; without one it starts itself under
// dbus-run-session. The subscriber is this program again (--subscriber).
#include <poll.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/dbus/subscriber_process.h"
#include "bench/dbus/bench_plant.h"
#include "bench/support/bench_timing.h"
#include "platform/class_factory.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/dbus/dbus_client.h"
#include "toolkit/dbus/dbus_names.h"
#include "toolkit/dbus/dbus_transport.h"
#include "toolkit/dbus/dbus_wire.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

namespace {

constexpr double kGoalPerSecond = 100'000;
constexpr double kGoalOfBare = 0.5;
constexpr char kProgId[] = "Bench.DBusEvents.1";
constexpr char kBareName[] = "Bench.DBusBare";
constexpr char kBarePath[] = "/Bare";
// {5A1C0D2E-7B3F-4C8D-A9E6-1F2B3C4D5E6F}
constexpr CLSID kBenchClsid{0x5A1C0D2E, 0x7B3F, 0x4C8D, {0xA9, 0xE6, 0x1F, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}};

using Clock = std::chrono::steady_clock;

// The subscriber's side: "ready" once it listens, "done" when `total`
// events have come.
int Subscriber(bool bare, uint64_t total) {
  uint64_t received = 0;
  if (!bare) {
    std::string error;
    auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
    if (!client) return std::fprintf(stderr, "subscriber: %s\n", error.c_str()), 1;
    CAEDBusClient::Filter filter;
    if (FAILED(client->Subscribe(0, 0, filter, [&](BOOL, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
          received += events.size();
        }))) {
      return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (received < total && client->Pump(100)) {
    }
  } else {
    auto connection = sdbus::createSessionBusConnection();
    auto proxy = sdbus::createProxy(*connection, kBareName, kBarePath);
    proxy->registerSignalHandler(aedbus::kSinkInterface, aedbus::kOnEventSignal, [&](sdbus::Signal signal) {
      uint32_t handle = 0;
      bool refresh = false, last = false;
      std::vector<ONEVENTSTRUCT> events;
      signal >> handle >> refresh >> last;
      aedbus::Read(signal, events);
      received += events.size();
    });
    proxy->finishRegistration();
    std::printf("ready %s\n", connection->getUniqueName().c_str());
    std::fflush(stdout);
    while (received < total) {
      while (connection->processPendingRequest()) {
      }
      auto data = connection->getEventLoopPollData();
      pollfd fd{data.fd, data.events, 0};
      ::poll(&fd, 1, 100);
    }
  }
  std::printf("done\n");
  std::fflush(stdout);
  return received >= total ? 0 : 1;
}

// What an event of the toolkit's road looks like on the wire.
ONEVENTSTRUCT SampleEvent() {
  ONEVENTSTRUCT e{};
  e.wChangeMask = OPC_CHANGE_ACTIVE_STATE | OPC_CHANGE_SEVERITY | OPC_CHANGE_MESSAGE;
  e.wNewState = OPC_CONDITION_ENABLED | OPC_CONDITION_ACTIVE;
  e.szSource = "Plant/Unit42/N1_FIC4242.A";
  e.ftTime = Uint64ToFileTime(1);
  e.szMessage = "Flow high";
  e.dwEventType = OPC_CONDITION_EVENT;
  e.dwEventCategory = 1;
  e.dwSeverity = 600;
  e.szConditionName = "Level";
  e.szSubconditionName = "Hi";
  e.wQuality = 192;
  e.bAckRequired = true;
  e.ftActiveTime = Uint64ToFileTime(1);
  e.dwCookie = 4242;
  return e;
}

// Bare sdbus-c++: `signals` unicast OnEvent signals of `batch` events each,
// written as fast as the socket takes them.
double BareRate(uint64_t signals, size_t batch) {
  auto connection = sdbus::createSessionBusConnection(kBareName);
  auto object = sdbus::createObject(*connection, kBarePath);
  object->registerSignal(aedbus::kSinkInterface, aedbus::kOnEventSignal,
                         std::string("ubb") + "a" + aedbus::kEventArraySignature);
  object->finishRegistration();
  CSubscriberProcess child({"--subscriber", "bare", std::to_string(signals * batch)});
  std::string ready = child.Line();
  if (ready.rfind("ready ", 0) != 0) return 0;
  std::string destination = ready.substr(6);
  std::vector<ONEVENTSTRUCT> events(batch, SampleEvent());
  auto start = Clock::now();
  for (uint64_t i = 0; i < signals; ++i) {
    auto signal = object->createSignal(aedbus::kSinkInterface, aedbus::kOnEventSignal);
    signal.setDestination(destination);
    signal << uint32_t{1} << false << false;
    aedbus::Write(signal, events.data(), events.size());
    object->emitSignal(signal);
    // As the transport does: keep the connection's write queue short.
    auto data = connection->getEventLoopPollData();
    if (data.events & POLLOUT) {
      pollfd fd{data.fd, POLLOUT, 0};
      ::poll(&fd, 1, 20);
      connection->processPendingRequest();
    }
  }
  while (connection->getEventLoopPollData().events & POLLOUT) {
    pollfd fd{connection->getEventLoopPollData().fd, POLLOUT, 0};
    ::poll(&fd, 1, 20);
    connection->processPendingRequest();
  }
  if (child.Line() != "done") return 0;
  return signals * batch / Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--subscriber") == 0) {
    return Subscriber(std::strcmp(argv[2], "bare") == 0, std::strtoull(argv[3], nullptr, 10));
  }
  if (!OnSessionBus(argc, argv)) return 1;
  int sources = argc > 1 ? std::atoi(argv[1]) : 10000;
  int cycles = argc > 2 ? std::atoi(argv[2]) : 4;
  const uint64_t events = uint64_t(sources) * cycles * 3;
  if (sources <= 0 || cycles <= 0 || events > CAEDBusTransport::kOutboxLimit) {
    std::fprintf(stderr, "usage: bench_dbus [sources] [cycles]  (3 x sources x cycles <= %zu)\n",
                 CAEDBusTransport::kOutboxLimit);
    return 2;
  }

  if (!InitializeLevelToolkit(kBenchClsid)) return 1;
  std::vector<CAECondition*> conditions = AddLevelSources("Plant/", sources, 100);

  CAEDBusTransport transport;
  std::string error;
  if (transport.Start(kBenchClsid, kProgId, AeDBusBus::kSession, &error) != AeDBusStart::kStarted) {
    std::fprintf(stderr, "bench_dbus: %s\n", error.c_str());
    return 1;
  }
  double toolkitRate = 0;
  CAEDBusTransport::Stats stats;
  {
    CSubscriberProcess child({"--subscriber", "toolkit", std::to_string(events)});
    if (child.Line() != "ready") return 1;
    CAEDBusTransport::Stats before = transport.GetStats();
    uint64_t tick = 1;
    auto start = Clock::now();
    for (int c = 0; c < cycles; ++c) {
      for (CAECondition* condition : conditions) {
        FILETIME t = Uint64ToFileTime(++tick);
        condition->Activate("Hi", "Flow high", true, &t);
        condition->Acknowledge("operator", "", &t);
        condition->Deactivate("Flow normal", true, &t);
      }
    }
    if (child.Line() != "done") return std::fprintf(stderr, "bench_dbus: the subscriber failed\n"), 1;
    toolkitRate = events / Seconds(Clock::now() - start);
    stats = transport.GetStats();
    stats.signalsSent -= before.signalsSent;
    stats.eventsSent -= before.eventsSent;
  }
  transport.Stop();
  g_ServerInterface.Uninitialize();
  g_SourceCache.Clear(1);

  uint64_t signals = stats.signalsSent ? stats.signalsSent : 1;
  size_t batch = std::max<size_t>(1, stats.eventsSent / signals);
  double bareRate = BareRate(signals, batch);

  std::printf("events %llu in %llu OnEvent signals (%zu events each on average), dropped %llu\n",
              static_cast<unsigned long long>(events), static_cast<unsigned long long>(stats.signalsSent), batch,
              static_cast<unsigned long long>(stats.eventsDropped));
  std::printf("toolkit over D-Bus: %.0f events/s (%.2f x goal of %.0f/s)\n", toolkitRate,
              toolkitRate / kGoalPerSecond, kGoalPerSecond);
  std::printf("bare sdbus-c++, same batches: %.0f events/s\n", bareRate);
  if (bareRate > 0) {
    std::printf("toolkit / bare: %.2f (%.2f x goal of %.2f)\n", toolkitRate / bareRate,
                toolkitRate / bareRate / kGoalOfBare, kGoalOfBare);
  }
  return 0;
}
