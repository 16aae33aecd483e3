// CAckingClient: an operator's station on its own thread: an OPC AE client
// of the server over the bus that subscribes to every event and
// acknowledges, one call at a time and at most once per period, each
// condition that waits for an acknowledgement, with a comment of its own
// ("<tag> ack <n>") so that the log's records can be told apart.
//
// Contract: the thread starts at construction and ends at Stop (or
// destruction). Outcome() may be read from any thread; once Stop has
// returned it is final. When the server goes during a call, that call is
// counted as in flight and the client stops acknowledging.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CAckingClient {
 public:
  struct Outcome {
    bool subscribed = false;             // the server answered and the subscription stands
    std::vector<std::string> confirmed;  // comments of acknowledgements the server accepted
    size_t refused = 0;                  // acknowledgements the server answered with a failure
    size_t inFlight = 0;                 // calls the server did not answer before it went
    std::string lastError;
  };

  CAckingClient(std::string tag, std::chrono::milliseconds period);
  ~CAckingClient();
  CAckingClient(const CAckingClient&) = delete;
  CAckingClient& operator=(const CAckingClient&) = delete;

  void Stop();
  Outcome Result() const;

 private:
  void Run();

  const std::string tag_;
  const std::chrono::milliseconds period_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Outcome outcome_;
  std::thread thread_;
};
