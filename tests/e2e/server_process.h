// CServerProcess: the program aeserver run as a user runs it, headless with
// --print-status, in a process of its own that the test starts, kills and
// restarts. Its standard output (the status lines) and error (the debugger
// output) go to files of the test's own.
//
// Contract: one thread uses an object. Start answers false when the
// program does not start; Kill ends it at once (SIGKILL), Stop asks it to
// end (SIGTERM) and waits; the destructor kills what still runs. The
// environment (registry store, bus) is the test process's.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

class CServerProcess {
 public:
  // `outputBase`: the status lines go to outputBase + ".out", the rest to
  // outputBase + ".err"; each Start appends.
  CServerProcess(std::string program, std::string outputBase);
  ~CServerProcess();
  CServerProcess(const CServerProcess&) = delete;
  CServerProcess& operator=(const CServerProcess&) = delete;

  bool Start();
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // SIGKILL and reaped.
  void Kill();
  // SIGTERM; true when it ended within `limit` (else it is killed).
  bool Stop(std::chrono::milliseconds limit);
  // True when the process has ended by itself (then reaped).
  bool Ended();

  // What the program printed on each stream, from every start.
  std::string Output() const;
  std::string Errors() const;
  // The status lines printed since the latest Start.
  std::string OutputSinceStart() const;
  // The latest status line since the latest Start ("" for none).
  std::string LastStatusLine() const;

 private:
  std::string program_;
  std::string outPath_, errPath_;
  size_t outStart_ = 0;
  pid_t pid_ = -1;
};

// True once the bus name `name` has an owner on the session bus, within
// `limit`.
bool WaitForBusName(const std::string& name, std::chrono::milliseconds limit);
