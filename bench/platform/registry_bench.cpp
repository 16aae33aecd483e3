// Registry store speed: settings are read when used and never cached, so
// RegGetDword must stay cheap. Goal: >= 50,000 reads per second.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/registry.h"

namespace {

constexpr double kReadGoalPerSecond = 50'000;
const std::string kKey = "SOFTWARE\\Brixham\\AlarmServer\\Settings";

void BM_RegGetDword(benchmark::State& state) {
  RegSetDword(HKEY_LOCAL_MACHINE, kKey, "PollRate", 500);
  DWORD value = 0;
  for (auto _ : state) {
    if (RegGetDword(HKEY_LOCAL_MACHINE, kKey, "PollRate", value) != ERROR_SUCCESS) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
  state.counters["reads/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RegGetDword)->Threads(1)->Threads(2)->UseRealTime();

void BM_RegQueryValueExOpenKey(benchmark::State& state) {
  RegSetDword(HKEY_LOCAL_MACHINE, kKey, "PollRate", 500);
  HKEY key;
  RegOpenKeyEx(HKEY_LOCAL_MACHINE, kKey, KEY_READ, &key);
  DWORD value = 0, size = sizeof value;
  for (auto _ : state) {
    size = sizeof value;
    RegQueryValueEx(key, "PollRate", nullptr, reinterpret_cast<BYTE*>(&value), &size);
    benchmark::DoNotOptimize(value);
  }
  RegCloseKey(key);
  state.counters["reads/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RegQueryValueExOpenKey);

void BM_RegSetDword(benchmark::State& state) {
  DWORD i = 0;
  for (auto _ : state) {
    if (RegSetDword(HKEY_LOCAL_MACHINE, kKey, "Counter", ++i) != ERROR_SUCCESS) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.counters["writes/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RegSetDword)->UseRealTime();

// The console report, plus each read run's ratio to the goal.
class GoalReporter : public benchmark::ConsoleReporter {
 public:
  GoalReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto it = run.counters.find("reads/s");
      if (it == run.counters.end() || run.run_name.function_name != "BM_RegGetDword") continue;
      std::printf("%s: %.0f reads/s, %.2f x the goal of %.0f/s\n", run.benchmark_name().c_str(),
                  double(it->second), double(it->second) / kReadGoalPerSecond, kReadGoalPerSecond);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  // A private store unless one is given.
  std::string dir;
  if (!getenv("AE_REGISTRY_DIR")) {
    dir = std::filesystem::temp_directory_path().string() + "/aebench.XXXXXX";
    if (!mkdtemp(dir.data())) return 1;
    setenv("AE_REGISTRY_DIR", dir.c_str(), 1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  GoalReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (!dir.empty()) std::filesystem::remove_all(dir);
  return 0;
}
