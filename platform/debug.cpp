#include "platform/debug.h"

#include <cstdio>
#include <mutex>

namespace {

// Recursive, so that a sink may itself call DebugOutput.
std::recursive_mutex g_sinkMutex;
DebugOutputSink g_sink;

}  // namespace

void DebugOutput(const std::string& text) {
  std::lock_guard lock(g_sinkMutex);
  if (g_sink) {
    g_sink(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
  std::lock_guard lock(g_sinkMutex);
  DebugOutputSink previous = std::move(g_sink);
  g_sink = std::move(sink);
  return previous;
}
