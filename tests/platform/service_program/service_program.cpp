// aetest_service: a service program for the tests, which reports to the
// service manager and stops as its arguments say.
//   --silent          reports nothing (a program that is no service program)
//   --start-delay MS  start-pending for MS, then running (default: running at once)
//   --exit CODE       ends at once with CODE
//   --ignore-stop     ignores the stop request (SIGTERM)
//   --stop-delay MS   ends MS after the stop request
//   --log FILE        appends "<pid>|<argument>|..." to FILE at start
//   --life S          ends after S seconds whatever happens (default 120), so
//                     that no test leaves one behind for long
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/services.h"

namespace {

void Sleep(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int main(int argc, char** argv) {
  bool silent = false, ignoreStop = false;
  long startDelay = 0, stopDelay = 0, life = 120;
  int exitCode = -1;
  std::string log;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (a == "--silent") silent = true;
    else if (a == "--ignore-stop") ignoreStop = true;
    else if (a == "--start-delay") startDelay = std::atol(next().c_str());
    else if (a == "--stop-delay") stopDelay = std::atol(next().c_str());
    else if (a == "--exit") exitCode = std::atoi(next().c_str());
    else if (a == "--log") log = next();
    else if (a == "--life") life = std::atol(next().c_str());
  }
  alarm(unsigned(life));
  if (!log.empty()) {
    std::ofstream out(log, std::ios::app);
    out << getpid();
    for (int i = 1; i < argc; ++i) out << '|' << argv[i];
    out << '\n';
  }
  if (exitCode >= 0) return exitCode;

  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  if (ignoreStop)
    signal(SIGTERM, SIG_IGN);
  else
    sigprocmask(SIG_BLOCK, &stop, nullptr);

  if (!silent) {
    if (startDelay > 0) {
      ReportServiceStatus(SERVICE_START_PENDING, DWORD(startDelay + 1000));
      Sleep(startDelay);
    }
    ReportServiceStatus(SERVICE_RUNNING, 0);
  }
  if (ignoreStop) {
    for (;;) pause();
  }
  int signal = 0;
  sigwait(&stop, &signal);
  Sleep(stopDelay);
  return 0;
}
