#include "bench/dbus/subscriber_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

CSubscriberProcess::CSubscriberProcess(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv{const_cast<char*>("/proc/self/exe")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return;
  }
  lines_ = fdopen(fds[0], "r");
}

CSubscriberProcess::~CSubscriberProcess() {
  if (lines_) fclose(lines_);
  if (pid_ > 0) {
    kill(pid_, SIGCONT);
    waitpid(pid_, nullptr, 0);
  }
}

std::string CSubscriberProcess::Line() {
  if (!lines_) return {};
  char* buffer = nullptr;
  size_t size = 0;
  ssize_t n = getline(&buffer, &size, lines_);
  std::string line = n > 0 ? std::string(buffer, size_t(n)) : std::string();
  free(buffer);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

void CSubscriberProcess::Stop() { kill(pid_, SIGSTOP); }
void CSubscriberProcess::Continue() { kill(pid_, SIGCONT); }
