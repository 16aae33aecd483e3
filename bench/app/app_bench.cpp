// The program as an operator starts it: from exec to "Connected" on the
// example plant and on a generated plant of >= 100,000 alarm variables,
// the CPU the idle program costs with its window open and the plant quiet,
// and its resident memory per alarm variable. aeserver runs as a process of
// its own on the offscreen platform, --print-status telling when it is
// connected; the time to its first line (the event loop runs, nothing is
// connected yet) is the in-run baseline.
//
//   bench_app [--producers N] [--blocks M] [--idle-seconds S] [--runs R]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_timing.h"
#include "alarmconfig/tracked_mutex.h"
#include "bench/support/bench_plant.h"
#include "opcda/opc_da_client.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "tests/support/plugin_registration.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int producers = 10;
  int blocks = 1100;
  int idleSeconds = 10;
  int runs = 3;
};

// aeserver --print-status, its output read line by line.
class CServerProcess {
 public:
  bool Start() {
    int out[2];
    if (pipe(out) != 0) return false;
    start_ = Clock::now();
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      execl(AESERVER_PROGRAM, AESERVER_PROGRAM, "--print-status", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = fdopen(out[0], "r");
    return out_ != nullptr;
  }
  // Seconds from the start to the first line and to the first "Connected"
  // line; false when the output ended or `limit` passed first.
  bool WaitConnected(double& firstLine, double& connected, double limit = 120) {
    char line[4096];
    firstLine = -1;
    while (fgets(line, sizeof line, out_)) {
      double now = Seconds(Clock::now() - start_);
      if (firstLine < 0) firstLine = now;
      if (std::strncmp(line, "Connected |", 11) == 0) {
        connected = now;
        // Keep reading the output in the background so the pipe never fills.
        reader_ = std::thread([this] {
          char rest[4096];
          while (fgets(rest, sizeof rest, out_)) {
          }
        });
        return true;
      }
      if (now > limit) return false;
    }
    return false;
  }
  // utime + stime in seconds.
  double CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
  }
  long ResidentBytes() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) * 1024;
    }
    return -1;
  }
  // SIGTERM, and the exit code (-1 when it had to be killed).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        Join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    Join();
    return -1;
  }
  ~CServerProcess() { Stop(); }

 private:
  void Join() {
    if (reader_.joinable()) reader_.join();
    if (out_) fclose(out_);
    out_ = nullptr;
  }
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  Clock::time_point start_;
  std::thread reader_;
};

bool Serve(const std::string& dir) {
  return RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, dir) == ERROR_SUCCESS;
}

size_t CountVariables() {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  C_OPC_DA_Client client;
  client.ImportConfiguration(false);
  return client.itemMap.size();
}

struct Startup {
  double firstLine = 0;
  double connected = 0;
};

// The median of `runs` start-ups (by the time to "Connected").
bool MedianStartup(int runs, Startup& result) {
  std::vector<Startup> all;
  for (int i = 0; i < runs; ++i) {
    CServerProcess server;
    Startup s;
    if (!server.Start() || !server.WaitConnected(s.firstLine, s.connected)) return false;
    all.push_back(s);
    server.Stop();
  }
  std::sort(all.begin(), all.end(), [](const Startup& a, const Startup& b) { return a.connected < b.connected; });
  result = all[all.size() / 2];
  return true;
}

int Fail(const char* what) {
  std::fprintf(stderr, "bench_app: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    int value = std::atoi(argv[i + 1]);
    if (name == "--producers") options.producers = value;
    else if (name == "--blocks") options.blocks = value;
    else if (name == "--idle-seconds") options.idleSeconds = value;
    else if (name == "--runs") options.runs = std::max(1, value);
    else return Fail("usage: bench_app [--producers N] [--blocks M] [--idle-seconds S] [--runs R]");
  }
  CBenchSandbox sandbox;
  if (sandbox.Root().empty()) return Fail("no sandbox");
  // The server's own files (the acknowledgement log) stay in the sandbox too.
  std::filesystem::create_directories(sandbox.Root() + "/data");
  setenv("XDG_DATA_HOME", (sandbox.Root() + "/data").c_str(), 1);
  const std::string runtime = sandbox.Root() + "/runtime";
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  std::string error;
  if (FAILED(RegisterPlugin(RALTO_CONFIG_LIBRARY, &error)) || FAILED(RegisterPlugin(RALTO_OPC_LIBRARY, &error))) {
    return Fail(error.c_str());
  }

  // The example plant: start-up, then idle cost and memory of one run.
  if (!Serve(AE_EXAMPLE_PLANT_DIR)) return Fail("cannot set the document directory");
  size_t exampleVariables = CountVariables();
  Startup example;
  if (!MedianStartup(options.runs, example)) return Fail("the example plant did not connect");
  std::printf("start-up, example plant (%zu alarm variables): %.3f s to Connected (goal <= 1 s); "
              "%.3f s to the event loop (baseline), ratio %.2f\n",
              exampleVariables, example.connected, example.firstLine, example.connected / example.firstLine);

  long exampleResident = 0;
  {
    CServerProcess server;
    double first = 0, connected = 0;
    if (!server.Start() || !server.WaitConnected(first, connected)) return Fail("the example plant did not connect");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double cpu = server.CpuSeconds();
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
    double percent = 100.0 * (server.CpuSeconds() - cpu) / Seconds(Clock::now() - start);
    exampleResident = server.ResidentBytes();
    std::printf("idle, window open, plant quiet, %d s: %.2f %% of one core (goal <= 1 %%)\n", options.idleSeconds,
                percent);
    if (server.Stop() != 0) return Fail("the server did not end cleanly on SIGTERM");
  }

  // The generated plant.
  const std::string plant = sandbox.Root() + "/plant";
  if (!GeneratePlant(plant, options.producers, options.blocks, 1)) return Fail("plantgen failed");
  if (!Serve(plant)) return Fail("cannot set the document directory");
  size_t variables = CountVariables();
  Startup large;
  if (!MedianStartup(options.runs, large)) return Fail("the generated plant did not connect");
  std::printf("start-up, generated plant (%zu alarm variables): %.3f s to Connected (goal <= 3 s); "
              "%.3f s to the event loop (baseline)\n",
              variables, large.connected, large.firstLine);
  {
    CServerProcess server;
    double first = 0, connected = 0;
    if (!server.Start() || !server.WaitConnected(first, connected)) return Fail("the generated plant did not connect");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    long resident = server.ResidentBytes();
    std::printf("resident memory, generated plant: %.1f MiB, %.2f KiB per alarm variable (goal <= 2 KiB); "
                "beyond the example plant's %.1f MiB (baseline): %.2f KiB per variable\n",
                resident / 1048576.0, resident / 1024.0 / double(variables), exampleResident / 1048576.0,
                (resident - exampleResident) / 1024.0 / double(variables));
  }
  return 0;
}
