#include "toolkit/engine.h"

#include <algorithm>
#include <cstdio>

#include "toolkit/event_server.h"
#include "toolkit/server_callback.h"

CAEEngine& CAEEngine::Instance() {
  static CAEEngine engine;
  return engine;
}

CAEEngine::CAEEngine() : startTime_(ae::Clock::System().NowUtc()) {}

CAEEngine::~CAEEngine() { dispatcher_.Stop(); }

CAEServerCallback& CAEEngine::Callback() {
  static CAEServerCallback toolkitDefault;
  CAEServerCallback* callback = callback_.load();
  return callback ? *callback : toolkitDefault;
}

ae::Clock& CAEEngine::Clock() {
  ae::Clock* clock = clock_.load();
  return clock ? *clock : ae::Clock::System();
}

void CAEEngine::TraceLine(int level, const std::string& text) {
  if (trace_.Enabled(level)) Callback().OnTrace(level, text);
}

void CAEEngine::TraceCall(int level, const char* method, HRESULT result) {
  int at = trace_.CallTracing() ? 1 : level;
  if (!trace_.Enabled(at)) return;
  char text[160];
  std::snprintf(text, sizeof text, "%s -> 0x%08X", method, static_cast<unsigned>(result));
  Callback().OnTrace(at, text);
}

void CAEEngine::AddServer(CAEEventServer* server) {
  std::lock_guard lock(mutex_);
  servers_.push_back(server);
}

void CAEEngine::RemoveServer(CAEEventServer* server) {
  std::lock_guard lock(mutex_);
  servers_.erase(std::remove(servers_.begin(), servers_.end(), server), servers_.end());
}

std::vector<ComPtr<IOPCShutdown>> CAEEngine::ShutdownSinks() {
  std::lock_guard lock(mutex_);
  std::vector<ComPtr<IOPCShutdown>> sinks;
  for (CAEEventServer* s : servers_) {
    for (auto& sink : s->ShutdownSinks()) sinks.push_back(std::move(sink));
  }
  return sinks;
}

void CAEEngine::SetIdentity(const std::string& vendor) {
  std::lock_guard lock(mutex_);
  vendor_ = vendor;
  startTime_ = Clock().NowUtc();
}

std::string CAEEngine::Vendor() {
  std::lock_guard lock(mutex_);
  return vendor_;
}

FILETIME CAEEngine::StartTime() {
  std::lock_guard lock(mutex_);
  return startTime_;
}
