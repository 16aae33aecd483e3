#include "platform/service_launcher.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "platform/process_identity.h"

namespace {

#ifndef CLOSE_RANGE_CLOEXEC
constexpr unsigned CLOSE_RANGE_CLOEXEC = 1u << 2;
#endif

// What the forked processes report to the starter through the status
// pipe, one record per write.
struct Report {
  enum Kind : int { kPid, kForkFailed, kExecFailed } kind;
  int value;  // the process ID or errno
};

void Send(int fd, Report::Kind kind, int value) {
  Report report{kind, value};
  ssize_t ignored = write(fd, &report, sizeof report);
  (void)ignored;
}

// Runs in the new process, between fork and exec: async-signal-safe calls only.
[[noreturn]] void RunProgram(int statusFd, int goFd, int nullFd, char* const* argv, char* const* envp) {
  // The starter sends "g" once the process is recorded; anything else,
  // or its end closed without a word, means "give up".
  char verdict = 0;
  ssize_t n;
  while ((n = read(goFd, &verdict, 1)) < 0 && errno == EINTR) {
  }
  if (n != 1 || verdict != 'g') _exit(0);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s)
    if (s != SIGKILL && s != SIGSTOP) sigaction(s, &byDefault, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  dup2(nullFd, 0);
  dup2(nullFd, 1);
  dup2(nullFd, 2);
  if (chdir("/") != 0) _exit(127);
  syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
  execve(argv[0], argv, envp);
  Send(statusFd, Report::kExecFailed, errno);
  _exit(127);
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const std::string& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Reads one report; false at the end of the pipe.
bool Receive(int fd, Report& report) {
  ssize_t n;
  while ((n = read(fd, &report, sizeof report)) < 0 && errno == EINTR) {
  }
  return n == sizeof report;
}

class Fds {
 public:
  ~Fds() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  int& operator[](int i) { return fds_[i]; }
  void Close(int i) {
    if (fds_[i] >= 0) close(fds_[i]);
    fds_[i] = -1;
  }

 private:
  int fds_[5] = {-1, -1, -1, -1, -1};
};

enum { kStatusRead, kStatusWrite, kGoRead, kGoWrite, kNull };

}  // namespace

LONG LaunchDetached(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                    const std::function<LONG(pid_t pid, const std::string& identity)>& record) {
  if (args.empty() || args[0].empty()) return ERROR_INVALID_PARAMETER;
  std::vector<char*> argv = Pointers(args), envp = Pointers(environment);
  Fds fds;
  int status[2], go[2];
  if (pipe2(status, O_CLOEXEC) != 0) return Win32ErrorFromErrno(errno);
  fds[kStatusRead] = status[0];
  fds[kStatusWrite] = status[1];
  if (pipe2(go, O_CLOEXEC) != 0) return Win32ErrorFromErrno(errno);
  fds[kGoRead] = go[0];
  fds[kGoWrite] = go[1];
  fds[kNull] = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fds[kNull] < 0) return Win32ErrorFromErrno(errno);

  pid_t middle = fork();
  if (middle < 0) return Win32ErrorFromErrno(errno);
  if (middle == 0) {
    // A go-between that leaves at once, so the program's parent becomes
    // the system's reaper and nothing of it stays with the starter.
    setsid();
    pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      RunProgram(status[1], go[0], fds[kNull], argv.data(), envp.data());
    }
    Send(status[1], pid < 0 ? Report::kForkFailed : Report::kPid, pid < 0 ? errno : pid);
    _exit(0);
  }
  fds.Close(kStatusWrite);
  fds.Close(kGoRead);
  while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  Report report{};
  if (!Receive(fds[kStatusRead], report)) return ERROR_NOT_ENOUGH_MEMORY;
  if (report.kind == Report::kForkFailed) return Win32ErrorFromErrno(report.value);
  pid_t pid = report.value;
  LONG err = record(pid, ProcessIdentity(pid));
  if (err != ERROR_SUCCESS) return err;
  if (write(fds[kGoWrite], "g", 1) != 1) return Win32ErrorFromErrno(errno);
  fds.Close(kGoWrite);
  // The end of the pipe without a report: the program runs.
  if (Receive(fds[kStatusRead], report) && report.kind == Report::kExecFailed)
    return Win32ErrorFromErrno(report.value);
  return ERROR_SUCCESS;
}

std::vector<std::string> ServiceCommandLine(const std::string& imagePath) {
  std::string line;
  for (size_t pos = 0; pos < imagePath.size();) {
    size_t open = imagePath.find('%', pos), close = open == std::string::npos ? open : imagePath.find('%', open + 1);
    if (close == std::string::npos) {
      line += imagePath.substr(pos);
      break;
    }
    const char* value = getenv(imagePath.substr(open + 1, close - open - 1).c_str());
    line += imagePath.substr(pos, open - pos);
    line += value ? std::string(value) : imagePath.substr(open, close - open + 1);
    pos = close + 1;
  }
  struct stat st;
  if (stat(line.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return {line};
  std::vector<std::string> args;
  std::string current;
  bool inQuotes = false, inArgument = false;
  for (char c : line) {
    if (c == '"') {
      inQuotes = !inQuotes;
      inArgument = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (inArgument) args.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) args.push_back(current);
  return args;
}
