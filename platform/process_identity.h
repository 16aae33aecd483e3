// Process identity: a process ID names a process only until it ends, after
// which the ID may be given to another. The identity adds what a reused ID
// cannot repeat (the boot and the process's start time), so that a process
// recorded in one process is recognised, or found gone, in any other.
//
// Contract: ProcessIdentity gives "" for an ID that names no live process
// (none, or one that has ended and waits to be reaped). Ages and times are
// milliseconds. SignalProcess sends only to the process that still has the
// identity, never to a newcomer with the same ID. Any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// "<boot id>:<start time in clock ticks since boot>" of the live process
// `pid`, or "".
std::string ProcessIdentity(pid_t pid);

// How long the live process `pid` has been running; 0 when it is not.
uint64_t ProcessAgeMs(pid_t pid);

// Sends `signal` to `pid` when it is still the process with `identity`;
// false (errno ESRCH) when it is gone or another process has the ID.
bool SignalProcess(pid_t pid, const std::string& identity, int signal);
