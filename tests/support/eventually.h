// Eventually: polls a condition that another thread makes true, every 2 ms,
// until it holds (true) or `limit` has passed (false). For waits on the
// server's threads; the default limit is generous, never a timing check.
#pragma once

#include <chrono>
#include <thread>

template <class Done>
bool Eventually(Done done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
