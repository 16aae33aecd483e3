// CAlarmProcessor: the thread that turns the controllers' alarm state words
// into condition changes. The OPC DA data callback queues every changed
// alarm variable in alarmRequests; the thread wakes on its readyEvent,
// takes the whole queue, reads each variable's state array coherently
// (CAlarmStateReader) and applies it to the variable's condition
// (CConditionUpdater). Once a minute it asks the connection manager to
// connect, which reconnects a lost connection. A read call that the OPC DA
// server fails (the call, not one of its items) loses the connection: the
// thread disconnects, so that the sources show bad quality until the
// reconnect reads every alarm anew. A read call that the server does not
// answer within the hung-read limit loses the connection the same way: a
// watch thread beside the processor disconnects (once per read), and the
// processor, once the call returns, finds its variables gone and checks
// the connection again within the minute. With the registry value
// "AlarmSendOutFile" set, each pass is written to that dump file.
//
// Each variable is handled under g_ConfigMutex, so neither the variable nor
// its source can go meanwhile; a variable that left the connection's
// client since it was queued is skipped. The lock is let go during the
// pause between two attempts of an incoherent read, and a stop request
// ends a pass between two variables.
//
// Contract: one instance for the process. StartProcessor and
// StopProcessor may be called from any thread, StopProcessor never while
// holding g_ConfigMutex or g_CacheLock (the thread may wait for them).
// When the thread does not end within the stop limit, "Terminating
// AlarmProcessor\n" goes to the debugger output and the thread is left to
// end on its own; it keeps alive what it uses.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/com.h"

class CAlarmProcessor {
 public:
  struct Timing {
    DWORD waitMs = 1000;               // wait for work before the reconnect check
    uint64_t reconnectCheckMs = 60000;  // Connect at most this often
    DWORD stopLimitMs = 5000;          // StopProcessor's wait for the thread
    DWORD retrySleepMs = 200;          // between two reads of an incoherent array
    uint64_t hungReadMs = 10000;       // a server read outstanding this long is hung
  };

  // Sets the environment variable "RaltoOpcDaCoherentReadEnabled" to "1",
  // then reads the dump path "AlarmSendOutFile" of HKLM
  // "SOFTWARE\Quillan\Veltro QRX OPC AE\AlarmLog" (missing, not a string or
  // longer than 126 characters: no dump). `clock` times the reconnect check
  // and must outlive the processor and its thread.
  CAlarmProcessor();
  CAlarmProcessor(Timing timing, ae::Clock& clock);
  // StopProcessor.
  virtual ~CAlarmProcessor();
  CAlarmProcessor(const CAlarmProcessor&) = delete;
  CAlarmProcessor& operator=(const CAlarmProcessor&) = delete;

  // Uses the IOPCSyncIO that g_pGlobalInterfaceTable keeps under `cookie`
  // from the next pass on, and starts the thread if none runs. True (a
  // thread exists).
  bool StartProcessor(DWORD syncIOCookie);
  // Ends the thread (see the contract); afterwards no thread runs and a
  // StartProcessor starts a new one.
  void StopProcessor();
  bool IsRunning();

  const std::string& DumpPath() const { return dumpPath_; }

  // Waits up to `ms` for the last thread that StopProcessor left running to
  // end; true when none is left.
  bool TEST_WaitForAbandonedThread(DWORD ms);

 private:
  struct Worker;
  static void Run(const std::shared_ptr<Worker>& worker);
  static void RunPass(Worker& worker);
  static void WatchReads(Worker& worker);

  const Timing timing_;
  ae::Clock& clock_;
  std::string dumpPath_;
  std::mutex mutex_;  // guards the two below
  std::shared_ptr<Worker> worker_;
  std::thread thread_;
  std::weak_ptr<Worker> abandoned_;
};
