#include "platform/process_identity.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const std::string& BootId() {
  static const std::string id = [] {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string line;
    std::getline(in, line);
    return line;
  }();
  return id;
}

// The state letter and start time (clock ticks since boot) of /proc/<pid>/stat;
// false when the process does not exist.
bool ReadStat(pid_t pid, char& state, uint64_t& startTicks) {
  if (pid <= 0) return false;
  char path[32];
  snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[1024];
  ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return false;
  buffer[n] = '\0';
  // The command name may hold spaces and parentheses: the fields start
  // after its last ')'. Then: state (field 3) ... starttime (field 22).
  std::string text(buffer, size_t(n));
  size_t nameEnd = text.rfind(')');
  if (nameEnd == std::string::npos) return false;
  std::istringstream fields(text.substr(nameEnd + 1));
  std::string field;
  for (int number = 3; fields >> field; ++number) {
    if (number == 3) state = field.empty() ? '?' : field[0];
    if (number == 22) {
      startTicks = std::strtoull(field.c_str(), nullptr, 10);
      return true;
    }
  }
  return false;
}

bool Live(char state) { return state != 'Z' && state != 'X' && state != 'x'; }

}  // namespace

std::string ProcessIdentity(pid_t pid) {
  char state;
  uint64_t start;
  if (!ReadStat(pid, state, start) || !Live(state)) return {};
  return BootId() + ":" + std::to_string(start);
}

uint64_t ProcessAgeMs(pid_t pid) {
  char state;
  uint64_t start;
  if (!ReadStat(pid, state, start) || !Live(state)) return 0;
  // Start times count from the boot, as CLOCK_BOOTTIME does.
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  uint64_t nowMs = uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
  uint64_t startMs = start * 1000 / uint64_t(sysconf(_SC_CLK_TCK));
  return nowMs > startMs ? nowMs - startMs : 0;
}

bool SignalProcess(pid_t pid, const std::string& identity, int signal) {
  if (identity.empty()) {
    errno = ESRCH;
    return false;
  }
  // A pidfd pins the process: checked after it is opened, the identity
  // cannot change before the signal is sent through it.
  int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0 && errno != ENOSYS) return false;
  bool sent;
  if (ProcessIdentity(pid) != identity) {
    errno = ESRCH;
    sent = false;
  } else if (pidfd >= 0) {
    sent = syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
  } else {
    sent = kill(pid, signal) == 0;
  }
  if (pidfd >= 0) {
    int saved = errno;
    close(pidfd);
    errno = saved;
  }
  return sent;
}
