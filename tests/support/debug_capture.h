// ScopedDebugCapture: collects what DebugOutput receives while it lives, and
// puts the previous sink back when it goes. One text per DebugOutput call,
// a final newline dropped. Thread-safe.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug.h"

class ScopedDebugCapture {
 public:
  ScopedDebugCapture() {
    previous_ = SetDebugOutputSink([this](const std::string& text) {
      std::lock_guard lock(mutex_);
      lines_.push_back(!text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text);
    });
  }
  ScopedDebugCapture(const ScopedDebugCapture&) = delete;
  ScopedDebugCapture& operator=(const ScopedDebugCapture&) = delete;
  ~ScopedDebugCapture() { SetDebugOutputSink(std::move(previous_)); }

  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // True when some captured text contains `part`.
  bool Contains(const std::string& part) const {
    std::lock_guard lock(mutex_);
    for (const std::string& line : lines_)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  DebugOutputSink previous_;
};
