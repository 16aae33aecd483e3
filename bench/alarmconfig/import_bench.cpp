// Configuration import speed and size, on plants written by plantgen:
//   - full import plus source build of a plant of >= 100,000 alarm variables
//     (goal: <= 3 s, <= 1 KiB resident memory per variable);
//   - linear growth: a plant 10 times larger, once with 10 times the blocks
//     per producer and once with 10 times the producers (goal: <= 12 times
//     the time);
//   - an incremental import with nothing changed, against a plain libxml2
//     parse of the same documents in the same run (goal: <= 1.2 times).
//
//   bench_import [--producers N] [--blocks M] [--no-growth] [--phase import|parse]
// Defaults: 10 producers of 1,100 blocks. --phase runs one thing once on the
// plant and ends, for valgrind's tools (callgrind, cachegrind, heaptrack) to
// see it alone: "import" one fresh connection's import and source build
// (the function ConnectFresh), "parse" the plain libxml2 parse of the
// documents (ParseDocuments), with no warm-up. Runs in a private registry store
// and a temporary plant directory, both removed at the end. Times are the
// process's CPU time (wall time beside it), so that other work on the
// machine disturbs the ratios less; each figure is the best of a few runs.
#include <libxml/parser.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/bench_timing.h"
#include "bench/support/bench_plant.h"
#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/connection_manager.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/source_cache.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFullImportGoalSeconds = 3.0;
constexpr double kBytesPerVariableGoal = 1024;
constexpr double kGrowthGoal = 12.0;
constexpr double kUnchangedGoal = 1.2;
constexpr int kRepeats = 5;
constexpr char kImportPhase[] = "import";
constexpr char kParsePhase[] = "parse";

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

long ResidentBytes() {
  long pages = 0, resident = 0;
  std::ifstream statm("/proc/self/statm");
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

bool Generate(const std::string& dir, int producers, int blocks) { return GeneratePlant(dir, producers, blocks, 1); }

bool Serve(const std::string& dir) {
  return RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, dir) ==
         ERROR_SUCCESS;
}

struct FullImport {
  double seconds = 0;  // CPU
  double wallSeconds = 0;
  size_t variables = 0;
  int sources = 0;
  long residentBytes = 0;
  HRESULT result = E_FAIL;
  int32_t build = -1;
};

// A fresh connection's import and source build, as the connect thread runs
// them; the client stays in `manager` for what follows. Not inlined: the
// tools name it.
[[gnu::noinline]] FullImport ConnectFresh(ConnectionManager& manager) {
  FullImport run;
  long before = ResidentBytes();
  Clock::time_point start = Clock::now();
  double cpu = CpuSeconds();
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    manager.client = std::make_unique<C_OPC_DA_Client>();
    run.result = manager.client->ImportConfiguration(false);
    run.build = BuildSourcesForVariable("Brixham.RaltoOPC");
    manager.lastSourceBuildResult = run.build;
  }
  run.seconds = CpuSeconds() - cpu;
  run.wallSeconds = Seconds(Clock::now() - start);
  run.residentBytes = ResidentBytes() - before;
  run.variables = manager.client->itemMap.size();
  run.sources = g_SourceCache.NumberOfSources();
  return run;
}

void Disconnect(ConnectionManager& manager) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  manager.client.reset();
  g_SourceCache.Clear(1);
  malloc_trim(0);
}

// The best of `runs` fresh connections (each after the last one's end).
FullImport BestConnect(ConnectionManager& manager, int runs) {
  FullImport best;
  for (int i = 0; i < runs; ++i) {
    FullImport run = ConnectFresh(manager);
    if (i == 0 || run.seconds < best.seconds) best = run;
    if (i + 1 < runs) Disconnect(manager);
  }
  return best;
}

// Every document of the plant, as text in memory.
std::vector<std::string> ReadDocuments(const std::string& dir) {
  std::vector<std::string> texts;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    texts.push_back(text.str());
  }
  return texts;
}

// Not inlined: the tools name it (callgrind's --toggle-collect).
[[gnu::noinline]] void ParseDocuments(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) std::fprintf(stderr, "bench_import: a document does not parse\n");
    xmlFreeDoc(doc);
  }
}

// The plain parse of every document of the plant, as text in memory.
double PlainParseSeconds(const std::string& dir) {
  std::vector<std::string> texts = ReadDocuments(dir);
  double start = CpuSeconds();
  ParseDocuments(texts);
  return CpuSeconds() - start;
}

void PrintFull(const char* label, const FullImport& run) {
  std::printf("%-28s %8zu variables %7d sources  %6.3f s CPU (%6.3f s wall)  result 0x%08X build %d\n",
              label, run.variables, run.sources, run.seconds, run.wallSeconds, static_cast<unsigned>(run.result),
              run.build);
}

// One phase alone, once (--phase).
int RunPhase(const std::string& phase, ConnectionManager& manager, const std::string& plant) {
  if (phase == kParsePhase) {
    std::vector<std::string> texts = ReadDocuments(plant);
    double start = CpuSeconds();
    ParseDocuments(texts);
    std::printf("plain libxml2 parse of %zu documents  %6.3f s CPU\n", texts.size(), CpuSeconds() - start);
    return 0;
  }
  FullImport run = ConnectFresh(manager);
  PrintFull("full import + source build", run);
  Disconnect(manager);
  return run.result == S_OK && run.build == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int producers = 10;
  int blocks = 1100;
  bool growth = true;
  std::string phase;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--producers") && i + 1 < argc) producers = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--blocks") && i + 1 < argc) blocks = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--no-growth")) growth = false;
    else if (!std::strcmp(argv[i], "--phase") && i + 1 < argc) phase = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_import [--producers N] [--blocks M] [--no-growth] [--phase import|parse]\n");
      return 2;
    }
  }
  if (producers < 1 || blocks < 1 || (!phase.empty() && phase != kImportPhase && phase != kParsePhase)) return 2;

  std::string base = fs::temp_directory_path().string() + "/aebench_import.XXXXXX";
  if (!mkdtemp(base.data())) return 1;
  if (!getenv("AE_REGISTRY_DIR")) {
    fs::create_directories(base + "/registry");
    setenv("AE_REGISTRY_DIR", (base + "/registry").c_str(), 1);
  }
  if (FAILED(RegisterPlugin(RALTO_CONFIG_LIBRARY))) {
    std::fprintf(stderr, "bench_import: cannot register the configuration server\n");
    return 1;
  }
  xmlInitParser();

  std::string plant = base + "/plant";
  if (!Generate(plant, producers, blocks) || !Serve(plant)) return 1;
  std::printf("plant: %d producers x %d blocks (%s)\n", producers, blocks, plant.c_str());

  ConnectionManager manager;
  if (!phase.empty()) {
    int status = RunPhase(phase, manager, plant);
    std::error_code ec;
    fs::remove_all(base, ec);
    return status;
  }
  // Warm-up: page cache, allocator, first-use costs.
  ConnectFresh(manager);
  Disconnect(manager);

  FullImport full = BestConnect(manager, 3);
  PrintFull("full import + source build", full);
  double perVariable = double(full.residentBytes) / double(std::max<size_t>(full.variables, 1));
  std::printf("  time    %.3f s, %.2f x the goal of %.1f s\n", full.seconds, full.seconds / kFullImportGoalSeconds,
              kFullImportGoalSeconds);
  std::printf("  memory  %.0f bytes resident per variable (%.1f MB), %.2f x the goal of %.0f\n", perVariable,
              full.residentBytes / 1e6, perVariable / kBytesPerVariableGoal, kBytesPerVariableGoal);

  std::vector<double> unchanged;
  std::vector<double> parse;
  for (int i = 0; i < kRepeats; ++i) {
    double start = CpuSeconds();
    HRESULT hr;
    {
      TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
      hr = manager.client->ImportConfiguration(true);
    }
    unchanged.push_back(CpuSeconds() - start);
    if (hr != S_OK || !manager.client->pendingMap.empty()) std::fprintf(stderr, "bench_import: unchanged import changed\n");
    parse.push_back(PlainParseSeconds(plant));
  }
  double u = Median(unchanged), p = Median(parse);
  std::printf("unchanged incremental import        %7.3f s (median of %d)\n", u, kRepeats);
  std::printf("plain libxml2 parse, same documents %7.3f s (median of %d)\n", p, kRepeats);
  std::printf("  ratio   %.2f, %.2f x the goal of %.1f\n", u / p, u / p / kUnchangedGoal, kUnchangedGoal);
  Disconnect(manager);
  // The reference for growth: the plain parse of all documents, measured as for the larger plants.
  double baseParse = std::min({PlainParseSeconds(plant), PlainParseSeconds(plant), PlainParseSeconds(plant)});

  if (growth) {
    struct Larger {
      const char* label;
      int producers;
      int blocks;
    } larger[] = {{"10 x blocks per producer", producers, blocks * 10},
                  {"10 x producers", producers * 10, blocks}};
    for (const Larger& l : larger) {
      std::string dir = base + "/larger";
      if (!Generate(dir, l.producers, l.blocks) || !Serve(dir)) return 1;
      FullImport big = BestConnect(manager, 2);
      PrintFull(l.label, big);
      double ratio = big.seconds / full.seconds;
      std::printf("  growth  %.1f x the variables in %.2f x the time, %.2f x the goal of %.0f x\n",
                  double(big.variables) / double(full.variables), ratio, ratio / kGrowthGoal, kGrowthGoal);
      // For reference: how the machine scales the plain parse of these documents.
      double bigParse = std::min({PlainParseSeconds(dir), PlainParseSeconds(dir), PlainParseSeconds(dir)});
      std::printf("  (the plain libxml2 parse of its documents takes %.2f x the base plant's on this machine)\n",
                  bigParse / baseParse);
      Disconnect(manager);
      fs::remove_all(dir);
    }
  }

  std::error_code ec;
  fs::remove_all(base, ec);
  return 0;
}
