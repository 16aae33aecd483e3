// CEventRecorder: an OPC AE client of the server on its own thread that
// subscribes to every event and keeps them, as an operator's screen does.
// While it lives the server has a client, so it does not end when the
// test's other clients come and go.
//
// Contract: the thread starts at construction and ends at destruction;
// the other methods may be called from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/opcae.h"

class CEventRecorder {
 public:
  CEventRecorder();
  ~CEventRecorder();
  CEventRecorder(const CEventRecorder&) = delete;
  CEventRecorder& operator=(const CEventRecorder&) = delete;

  // True once the subscription stands (false after a failure, see Error).
  bool WaitSubscribed();
  std::string Error() const;
  size_t Count() const;
  // The first event from index `from` on that `match` accepts, waiting up
  // to 90 seconds (a reconnect takes up to a minute); false when none came.
  bool Await(const std::function<bool(const ONEVENTSTRUCT&)>& match, size_t from, ONEVENTSTRUCT* found = nullptr);

 private:
  void Run();

  std::atomic<bool> stop_{false};
  std::atomic<int> state_{0};  // 0 starting, 1 subscribed, -1 failed
  mutable std::mutex mutex_;
  std::vector<ONEVENTSTRUCT> events_;
  std::string error_;
  std::thread thread_;
};
