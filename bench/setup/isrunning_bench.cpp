// bkIsRunning with 1,000 processes running (an installer asks it while the
// machine is busy): milliseconds per call when the program does not run,
// so that the whole process list is read, and when it is found; beside it
// the plain /proc walk that any answer needs (the list and every
// program's link). Goal: <= 20 ms per call.
//   bench_setup [--processes N] [--calls N]
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/processes.h"
#include "setup/svcctl/svcctl.h"

namespace {

constexpr double kGoalMs = 20.0;

using Clock = std::chrono::steady_clock;

template <class F>
double MsPerCall(int calls, F f) {
  auto begin = Clock::now();
  for (int i = 0; i < calls; ++i) f();
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count() / calls;
}

// The least any answer takes: the process list, and every program's link.
int PlainProcWalk(const char* wanted) {
  int found = 0;
  DIR* proc = opendir("/proc");
  while (dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    char link[320], target[4096];
    std::snprintf(link, sizeof link, "/proc/%s/exe", entry->d_name);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    const char* base = strrchr(target, '/');
    found += strcasecmp(base ? base + 1 : target, wanted) == 0;
  }
  closedir(proc);
  return found;
}

int CountProcesses() {
  std::vector<DWORD> ids(8192);
  DWORD bytes = 0;
  EnumProcesses(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes);
  return int(bytes / sizeof(DWORD));
}

}  // namespace

int main(int argc, char** argv) {
  int processes = 1000, calls = 50;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--processes") == 0) processes = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--calls") == 0) calls = std::atoi(argv[i + 1]);
  }
  void* library = dlopen(SVCCTL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  auto isRunning = library ? reinterpret_cast<decltype(bkIsRunning)*>(dlsym(library, "bkIsRunning")) : nullptr;
  if (!isRunning) {
    std::fprintf(stderr, "bench_setup: cannot load %s: %s\n", SVCCTL_LIBRARY, dlerror());
    return 1;
  }
  SetDebugOutputSink([](const std::string&) {});  // the trace lines are not what is measured

  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    pid_t child = fork();
    if (child == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) pause();
    }
    if (child < 0) break;
    children.push_back(child);
  }
  const std::string self = std::string(argv[0]).substr(std::string(argv[0]).rfind('/') + 1);
  int32_t answer = 0;
  double missing = MsPerCall(calls, [&] { isRunning("no-such-program.exe", &answer); });
  double found = MsPerCall(calls, [&] { isRunning(self.c_str(), &answer); });
  bool foundSelf = answer == 1;
  double plain = MsPerCall(calls, [] { PlainProcWalk("no-such-program.exe"); });

  std::printf("processes running: %d (%d started for the run)\n", CountProcesses(), int(children.size()));
  std::printf("bkIsRunning, not running (whole list): %.2f ms per call   goal <= %.0f ms: %.2fx the goal\n",
              missing, kGoalMs, missing / kGoalMs);
  std::printf("bkIsRunning, found (%s):            %.2f ms per call%s\n", foundSelf ? "yes" : "NO", found,
              foundSelf ? "" : "   (not found: wrong)");
  std::printf("plain /proc walk (baseline):           %.2f ms per call   bkIsRunning: %.2fx the baseline\n", plain,
              missing / plain);

  for (pid_t child : children) kill(child, SIGKILL);
  for (pid_t child : children) waitpid(child, nullptr, 0);
  return missing <= kGoalMs && foundSelf ? 0 : 1;
}
