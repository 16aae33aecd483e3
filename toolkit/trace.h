// The toolkit's trace file: lines at levels 1 (client connections) to 5
// (everything), written when the level is within the level set; the file
// is truncated and restarted when it would grow beyond its cap.
//
// Contract: thread-safe. Configure answers E_INVALIDARG for a level outside
// 0..5, an empty file name or a zero cap (with toFile), E_FAIL when the file
// cannot be opened; tracing then stays as it was. Level 0 closes the file.
// Without toFile, lines go to DebugOutput.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com.h"

namespace spdlog {
class logger;
}

class CAETrace {
 public:
  CAETrace();
  ~CAETrace();

  HRESULT Configure(int level, int toFile, const std::string& file, DWORD maxBytes);
  bool Enabled(int level) const { return level >= 1 && level <= level_.load(std::memory_order_relaxed); }
  void Write(int level, const std::string& text);

  // Every client call traced (at level 1) while on.
  void SetCallTracing(bool on) { calls_.store(on); }
  bool CallTracing() const { return calls_.load(); }

 private:
  std::mutex mutex_;
  std::shared_ptr<spdlog::logger> logger_;
  std::atomic<int> level_{0};
  std::atomic<bool> calls_{false};
};
