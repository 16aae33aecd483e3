#include "event_recorder.h"

#include <chrono>

#include "process_fixture.h"
#include "tests/support/eventually.h"
#include "toolkit/dbus/dbus_client.h"

CEventRecorder::CEventRecorder() : thread_([this] { Run(); }) {}

CEventRecorder::~CEventRecorder() {
  stop_ = true;
  thread_.join();
}

bool CEventRecorder::WaitSubscribed() {
  Eventually([this] { return state_ != 0; }, std::chrono::seconds(60));
  return state_ == 1;
}

std::string CEventRecorder::Error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

size_t CEventRecorder::Count() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

bool CEventRecorder::Await(const std::function<bool(const ONEVENTSTRUCT&)>& match, size_t from,
                           ONEVENTSTRUCT* found) {
  return Eventually(
      [&] {
        std::lock_guard lock(mutex_);
        for (size_t i = from; i < events_.size(); ++i) {
          if (!match(events_[i])) continue;
          if (found) *found = events_[i];
          return true;
        }
        return false;
      },
      std::chrono::seconds(90));
}

void CEventRecorder::Run() {
  std::string error;
  std::unique_ptr<CAEDBusClient> client = CAEDBusClient::Connect(kServerProgId, AeDBusBus::kSession, &error);
  auto keep = [this](BOOL, BOOL, const std::vector<ONEVENTSTRUCT>& batch) {
    std::lock_guard lock(mutex_);
    events_.insert(events_.end(), batch.begin(), batch.end());
  };
  if (!client || client->Subscribe(0, 0, CAEDBusClient::Filter(), keep) != S_OK) {
    std::lock_guard lock(mutex_);
    error_ = client ? client->LastError() : error;
    state_ = -1;
    return;
  }
  state_ = 1;
  while (!stop_ && client->Pump(50)) {
  }
}
