#include "alarmconfig/message_box_sink.h"

#include <mutex>
#include <utility>

std::atomic<int32_t> g_bInteractive{0};

namespace {

std::mutex g_sinkMutex;
CMessageBoxSink* g_sink = nullptr;

}  // namespace

CMessageBoxSink* SetMessageBoxSink(CMessageBoxSink* sink) {
  std::lock_guard lock(g_sinkMutex);
  return std::exchange(g_sink, sink);
}

void ShowMessageBox(const std::string& text, MessageBoxIcon icon) {
  CMessageBoxSink* sink;
  {
    std::lock_guard lock(g_sinkMutex);
    sink = g_sink;
  }
  if (sink) sink->ShowMessageBox(text, icon);
}
