// A subscriber of a D-Bus benchmark in a process of its own: this program
// started again with the given arguments, its stdout read line by line.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

class CSubscriberProcess {
 public:
  // Runs /proc/self/exe with `args`; Running() is false when that failed.
  explicit CSubscriberProcess(const std::vector<std::string>& args);
  ~CSubscriberProcess();  // waits for the process to end
  CSubscriberProcess(const CSubscriberProcess&) = delete;
  CSubscriberProcess& operator=(const CSubscriberProcess&) = delete;

  bool Running() const { return pid_ > 0 && lines_; }
  pid_t Pid() const { return pid_; }
  // The next line without its newline; empty at the end of the output.
  std::string Line();
  // SIGSTOP and SIGCONT: the process stops reading anything.
  void Stop();
  void Continue();

 private:
  pid_t pid_ = -1;
  FILE* lines_ = nullptr;
};
