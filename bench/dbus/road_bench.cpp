// The alarm road across processes: the program aeserver with its simulated
// plant making 2,000 random changes a second, a group update period of
// 100 ms, and a subscriber here that takes the events over D-Bus. The
// latency of an event is its arrival less the controller's time stamp.
// Goal: p99 <= the period + 50 ms.
//
//   bench_dbus_road [seconds] [changes/s]   (defaults 10 and 2000)
//
// Runs on a session bus of its own (dbus-run-session with its own
// activation folder), with a registry store and data folder of its own in a
// temporary folder.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
constexpr uint64_t kTicksPerMs = 10'000;
constexpr char kDirVariable[] = "BENCH_DBUS_ROAD_DIR";
constexpr uint64_t kTicksFrom1601To1970 = 116'444'736'000'000'000ULL;

uint64_t NowTicks() {
  auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return kTicksFrom1601To1970 + std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
}

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
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
  std::vector<double> latencies;
  bool measuring = false;
  bool wholeSeconds = true;  // every time stamp within a millisecond after its second
  CAEDBusClient::Filter filter;
  HRESULT hr = client->Subscribe(0, 0, filter, [&](BOOL refresh, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
    if (refresh || !measuring) return;
    uint64_t now = NowTicks();
    for (const auto& e : events) {
      if (FileTimeToUint64(e.ftTime) % kTicksPerSecond >= kTicksPerMs) wholeSeconds = false;
      latencies.push_back((double(now) - double(FileTimeToUint64(e.ftTime))) / 10'000.0);
    }
  });
  if (FAILED(hr)) return std::fprintf(stderr, "bench_dbus_road: subscribe: 0x%08X\n", unsigned(hr)), 1;
  // The connection and the first update cycles first.
  auto warm = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < warm) client->Pump(100);
  measuring = true;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (!client->Pump(100)) return std::fprintf(stderr, "bench_dbus_road: connection lost\n"), 1;
  }
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

  if (latencies.empty()) return std::fprintf(stderr, "bench_dbus_road: no events\n"), 1;
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))]; };
  double p99 = at(0.99);
  std::printf("%d random changes/s, update period %d ms, %d s: %zu events (%.0f/s), dropped for this client %llu\n",
              rate, kUpdatePeriodMs, seconds, latencies.size(), latencies.size() / double(seconds),
              static_cast<unsigned long long>(droppedForMe));
  std::printf("latency controller -> other process: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", at(0.5), p99,
              latencies.back());
  if (wholeSeconds) {
    std::printf("the events' controller time stamps carry whole seconds: each latency includes up to 1 s of that\n");
  }
  std::printf("p99 %.2f x the goal of <= %.0f ms (period + 50 ms)\n", p99 / kGoalMs, kGoalMs);
  return 0;
}
