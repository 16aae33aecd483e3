// Condition events generated and delivered per second: Activate /
// Acknowledge / Deactivate cycles on many sources, one in-process
// subscription. Goal: >= 200,000 events per second through the whole road.
//
//   bench_condition_events [sources] [cycles]   (defaults 10000 and 20)
//   bench_condition_events --callgrind [cycles]  (1000 sources, default 1
//                                                cycle: a small fixed run for
//                                                callgrind; 0 = setup only)
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "bench/support/bench_timing.h"
#include "platform/class_factory.h"
#include "toolkit/cfg_db.h"
#include "toolkit/condition.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

namespace {

constexpr double kGoalPerSecond = 200'000;
// {0B6F8E51-2C4D-4E7A-9F13-6A5D8B7C9E21}
constexpr CLSID kBenchClsid{0x0B6F8E51, 0x2C4D, 0x4E7A, {0x9F, 0x13, 0x6A, 0x5D, 0x8B, 0x7C, 0x9E, 0x21}};

// Counts what arrives, as a client that only looks would.
class CountingSink final : public IOPCEventSink {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IOPCEventSink) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IOPCEventSink*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }  // lives on the stack of main
  ULONG Release() override { return 1; }
  HRESULT OnEvent(OPCHANDLE, BOOL, BOOL, DWORD count, const ONEVENTSTRUCT*) override {
    {
      std::lock_guard lock(mutex_);
      received_ += count;
      ++calls_;
    }
    cv_.notify_all();
    return S_OK;
  }
  void WaitFor(uint64_t total) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return received_ >= total; });
  }
  uint64_t Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t received_ = 0;
  uint64_t calls_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  bool callgrind = argc > 1 && std::strcmp(argv[1], "--callgrind") == 0;
  int sources = callgrind ? 1000 : (argc > 1 ? std::atoi(argv[1]) : 10000);
  int cycles = argc > 2 ? std::atoi(argv[2]) : (callgrind ? 1 : 20);
  if (sources <= 0 || cycles < (callgrind ? 0 : 1)) {
    std::fprintf(stderr, "usage: bench_condition_events [sources] [cycles] | --callgrind [cycles]\n");
    return 2;
  }

  if (!g_ServerInterface.Initialize(nullptr, kBenchClsid, "bench", '/', 0)) return 1;
  g_CfgDb.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(1, "A", OPC_CONDITION_EVENT));
  g_CfgDb.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Level", 1));
  std::vector<CAECondition*> conditions;
  for (int i = 0; i < sources; ++i) {
    auto* source = new CAESource("Plant/Unit" + std::to_string(i % 100) + "/N1_FIC" + std::to_string(i) + ".A", 1);
    CAECondition level(source, "Level", 1);
    level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, "high"));
    conditions.push_back(source->AddCondition(level));
    g_SourceCache.AddSource(source);
  }

  ComPtr<IOPCEventServer> server;
  ComPtr<IUnknown> unknown;
  DWORD revisedBuffer, revisedMax, cookie;
  CountingSink sink;
  if (FAILED(CoCreateInstance(kBenchClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid())) ||
      FAILED(server->CreateEventSubscription(true, 0, 0, 1, IID_IConnectionPointContainer, unknown.Put(),
                                             &revisedBuffer, &revisedMax))) {
    return 1;
  }
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  unknown.As(IID_IConnectionPointContainer, container);
  container->FindConnectionPoint(IID_IOPCEventSink, point.Put());
  point->Advise(&sink, &cookie);

  const uint64_t events = uint64_t(sources) * cycles * 3;
  uint64_t tick = 1;
  auto start = std::chrono::steady_clock::now();
  for (int c = 0; c < cycles; ++c) {
    for (CAECondition* condition : conditions) {
      FILETIME t = Uint64ToFileTime(++tick);
      condition->Activate("Hi", "Flow high", true, &t);
      condition->Acknowledge("operator", "", &t);
      condition->Deactivate("Flow normal", true, &t);
    }
  }
  auto generated = std::chrono::steady_clock::now();
  sink.WaitFor(events);
  auto delivered = std::chrono::steady_clock::now();

  if (events > 0) {
    double generateRate = events / Seconds(generated - start);
    double deliverRate = events / Seconds(delivered - start);
    std::printf("sources %d, cycles %d, events %llu, OnEvent calls %llu\n", sources, cycles,
                static_cast<unsigned long long>(events), static_cast<unsigned long long>(sink.Calls()));
    std::printf("generated: %.0f events/s (%.2f x goal of %.0f/s)\n", generateRate, generateRate / kGoalPerSecond,
                kGoalPerSecond);
    std::printf("delivered: %.0f events/s (%.2f x goal of %.0f/s)\n", deliverRate, deliverRate / kGoalPerSecond,
                kGoalPerSecond);
  }

  point->Unadvise(cookie);
  point.Reset();
  container.Reset();
  unknown.Reset();
  server.Reset();
  g_ServerInterface.Uninitialize();
  g_SourceCache.Clear(1);
  return 0;
}
