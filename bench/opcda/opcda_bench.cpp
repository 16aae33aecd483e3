// The OPC DA client on a generated plant of >= 100,000 OPC items,
// against the simulated Ralto OPC DA server:
//   - ConnectFresh: group, full import, one AddItems per item, the five
//     interfaces in the global interface table (goal: <= 5 s), beside the
//     import alone;
//   - changes delivered by the server's update cycle through
//     Callback::OnDataChange into alarmRequests, taken by a stand-in alarm
//     processor (goal: >= 200,000 items queued per second);
//   - the callback alone: OnDataChange of every item in one call, per item.
//
//   bench_opcda [--producers N] [--blocks M]      (default 10 x 1,210: >= 100,000 items)
// Runs in a private registry store and a temporary plant directory, both
// removed at the end.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/bench_plant.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/alarm_requests.h"
#include "opcda/callback.h"
#include "opcda/connection_manager.h"
#include "platform/class_factory.h"
#include "platform/global_interface_table.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_control.h"
#include "ralto/opc_server.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/source_cache.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kConnectGoalSeconds = 5.0;
constexpr double kQueueGoalItemsPerSecond = 200'000;
constexpr int kRounds = 10;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Options {
  int producers = 10;
  int blocks = 1210;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    if (i + 1 < argc && std::strcmp(argv[i], "--producers") == 0) {
      options.producers = std::atoi(argv[++i]);
    } else if (i + 1 < argc && std::strcmp(argv[i], "--blocks") == 0) {
      options.blocks = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return options.producers > 0 && options.blocks > 0;
}

HRESULT SetGroupState(C_OPC_DA_Client& client, DWORD* rate, BOOL active) {
  ComPtr<IOPCGroupStateMgt> groupState;
  HRESULT hr = g_pGlobalInterfaceTable->GetInterfaceFromGlobal(client.groupStateCookie, IID_IOPCGroupStateMgt,
                                                               groupState.PutVoid());
  if (FAILED(hr)) return hr;
  DWORD revised = 0;
  OPCHANDLE clientGroup = client.serverGroup;
  return groupState->SetState(rate, &revised, &active, nullptr, nullptr, nullptr, &clientGroup);
}

int Run(const Options& options, const std::string& plantDir) {
  if (!GeneratePlant(plantDir, options.producers, options.blocks)) {
    std::fprintf(stderr, "plantgen failed\n");
    return 1;
  }
  RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plantDir);
  if (FAILED(RegisterPlugin(RALTO_CONFIG_LIBRARY)) || FAILED(RegisterPlugin(RALTO_OPC_LIBRARY)) ||
      FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&g_pGlobalInterfaceTable)))) {
    std::fprintf(stderr, "cannot register the Ralto servers\n");
    return 1;
  }
  CLSID clsid;
  ComPtr<IOPCServer> controlServer;
  ComPtr<IRaltoOpcControl> control;
  if (FAILED(CLSIDFromProgID(kRaltoOpcProgId, &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer.PutVoid())) ||
      FAILED(controlServer.As(IID_IRaltoOpcControl, control))) {
    std::fprintf(stderr, "cannot create %s\n", kRaltoOpcProgId);
    return 1;
  }
  control->SetManualUpdates(true);

  ConnectionManager manager;
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);

  // The import alone, for comparison; its sources go again before the connect.
  double importSeconds = 0;
  {
    C_OPC_DA_Client importOnly;
    auto start = Clock::now();
    if (FAILED(importOnly.ImportConfiguration(false))) {
      std::fprintf(stderr, "import failed\n");
      return 1;
    }
    importSeconds = Seconds(start);
  }
  g_SourceCache.Clear(1);

  manager.client = std::make_unique<C_OPC_DA_Client>();
  C_OPC_DA_Client& client = *manager.client;
  auto start = Clock::now();
  HRESULT hr = client.ConnectFresh(kRaltoOpcProgId, 1000);
  double connectSeconds = Seconds(start);
  if (FAILED(hr)) {
    std::fprintf(stderr, "ConnectFresh failed: 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  size_t items = client.handleMap.size();
  std::printf("plant: %d producers x %d blocks: %zu alarm variables, %zu OPC items\n", options.producers,
              options.blocks, client.itemMap.size(), items);
  std::printf("%-56s %7.3f s\n", "import alone (full, no OPC server)", importSeconds);
  std::printf("%-56s %7.3f s: %5.2f x the goal of <= %.0f s (%.0f items/s added)\n",
              "ConnectFresh (group, import, AddItems per item, table)", connectSeconds,
              connectSeconds / kConnectGoalSeconds, kConnectGoalSeconds, double(items) / connectSeconds);

  // Changes through the server's update cycle, the callback and the queue;
  // a stand-in processor takes the queue after every cycle.
  DWORD rate = 100;
  SetGroupState(client, &rate, true);
  client.active = 1;
  control->TickUpdates();  // the first cycle of an active group sends every item
  std::vector<AlarmVar*> taken;
  alarmRequests.TakeAll(&taken);
  size_t firstCycle = taken.size();
  control->UseManualClock(GetSystemTimeAsFileTime());
  control->RunRandomPlant(DWORD(items) * 10, 2);
  uint64_t queued = 0;
  double cycling = 0;
  for (int round = 0; round < kRounds; ++round) {
    control->AdvanceClock(100);
    taken.clear();
    start = Clock::now();
    control->TickUpdates();
    alarmRequests.TakeAll(&taken);
    cycling += Seconds(start);
    queued += taken.size();
  }
  control->RunRandomPlant(0, 0);
  double perSecond = double(queued) / cycling;
  std::printf("%-56s %7zu items queued in the first cycle\n", "activation", firstCycle);
  std::printf("%-56s %7llu items in %6.3f s: %10.0f items/s, %5.2f x the goal of >= %.0f/s\n",
              "update cycles -> OnDataChange -> alarmRequests -> TakeAll",
              static_cast<unsigned long long>(queued), cycling, perSecond, perSecond / kQueueGoalItemsPerSecond,
              kQueueGoalItemsPerSecond);

  // The callback alone: every client handle in one OnDataChange.
  std::vector<OPCHANDLE> handles;
  handles.reserve(items);
  for (const auto& [handle, variable] : client.handleMap) handles.push_back(handle);
  std::sort(handles.begin(), handles.end());
  size_t n = handles.size();
  std::vector<VARIANT> values(n);
  std::vector<WORD> qualities(n, OPC_QUALITY_GOOD);
  std::vector<FILETIME> times(n);
  std::vector<HRESULT> errors(n, S_OK);
  ComPtr<Callback> callback = ComPtr<Callback>::Attach(new Callback(&client));
  double calling = 0;
  for (int round = 0; round < kRounds; ++round) {
    taken.clear();
    start = Clock::now();
    callback->OnDataChange(0, client.serverGroup, S_OK, S_OK, DWORD(n), handles.data(), values.data(),
                           qualities.data(), times.data(), errors.data());
    calling += Seconds(start);
    alarmRequests.TakeAll(&taken);
  }
  callback->DetachClient();
  std::printf("%-56s %7.1f ns per item (%.0f items/s, %5.2f x the goal)\n", "Callback::OnDataChange alone",
              calling * 1e9 / double(n * kRounds), double(n * kRounds) / calling,
              double(n * kRounds) / calling / kQueueGoalItemsPerSecond);

  client.active = 0;
  manager.client.reset();
  g_SourceCache.Clear(1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "usage: bench_opcda [--producers N] [--blocks M]\n");
    return 2;
  }
  CBenchSandbox sandbox;
  if (sandbox.Root().empty()) return 1;
  std::string plantDir = sandbox.Root() + "/plant";
  fs::create_directories(plantDir);
  int result = Run(options, plantDir);
  return result;
}
