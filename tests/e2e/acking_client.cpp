#include "acking_client.h"

#include <map>

#include "process_fixture.h"
#include "toolkit/dbus/dbus_client.h"

namespace {

constexpr char kOperator[] = "e2e-operator";
// The server answered: its refusals come as errors of its own.
constexpr char kServerErrorPrefix[] = "org.opcfoundation.AE.Error.";
// The bus answers for a server that went (or never came).
constexpr char kNoOwnerErrors[][48] = {"org.freedesktop.DBus.Error.ServiceUnknown",
                                        "org.freedesktop.DBus.Error.NameHasNoOwner"};

struct Waiting {
  std::string source, condition;
  FILETIME activeTime;
  DWORD cookie = 0;
};

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

}  // namespace

CAckingClient::CAckingClient(std::string tag, std::chrono::milliseconds period)
    : tag_(std::move(tag)), period_(period), thread_([this] { Run(); }) {}

CAckingClient::~CAckingClient() { Stop(); }

void CAckingClient::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

CAckingClient::Outcome CAckingClient::Result() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}

void CAckingClient::Run() {
  std::string error;
  std::unique_ptr<CAEDBusClient> client = CAEDBusClient::Connect(kServerProgId, AeDBusBus::kSession, &error);
  auto fail = [&](const std::string& why) {
    std::lock_guard lock(mutex_);
    outcome_.lastError = why;
  };
  if (!client) return fail(error);
  std::map<std::string, Waiting> waiting;  // by source and condition
  auto onEvents = [&](BOOL, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
    for (const ONEVENTSTRUCT& e : events) {
      if (e.dwEventType != OPC_CONDITION_EVENT) continue;
      std::string key = e.szSource + "\n" + e.szConditionName;
      if (e.bAckRequired && !(e.wNewState & OPC_CONDITION_ACKED))
        waiting[key] = Waiting{e.szSource, e.szConditionName, e.ftActiveTime, e.dwCookie};
      else
        waiting.erase(key);
    }
  };
  if (client->Subscribe(0, 0, CAEDBusClient::Filter(), onEvents) != S_OK || client->Refresh() != S_OK)
    return fail(client->LastError());
  {
    std::lock_guard lock(mutex_);
    outcome_.subscribed = true;
  }
  size_t count = 0;
  auto next = std::chrono::steady_clock::now();
  while (!stop_) {
    // Events are read while the period runs, and while nothing waits.
    auto now = std::chrono::steady_clock::now();
    int wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count());
    if (!client->Pump(waiting.empty() ? int(period_.count()) : std::max(wait, 0)))
      return fail("the bus connection broke");
    if (std::chrono::steady_clock::now() < next || waiting.empty()) continue;
    next = std::chrono::steady_clock::now() + period_;
    Waiting ack = waiting.begin()->second;
    waiting.erase(waiting.begin());
    std::string comment = tag_ + " ack " + std::to_string(count++);
    HRESULT element = S_OK;
    HRESULT hr = client->AckCondition(kOperator, comment, ack.source, ack.condition, ack.activeTime, ack.cookie,
                                      &element);
    std::lock_guard lock(mutex_);
    if (hr == S_OK && element == S_OK) {
      outcome_.confirmed.push_back(comment);
      continue;
    }
    const std::string& why = client->LastError();
    if (SUCCEEDED(hr) || StartsWith(why, kServerErrorPrefix)) {
      ++outcome_.refused;  // acknowledged meanwhile, or activated again
      continue;
    }
    bool reached = !StartsWith(why, kNoOwnerErrors[0]) && !StartsWith(why, kNoOwnerErrors[1]);
    if (reached) ++outcome_.inFlight;
    outcome_.lastError = why;
    return;  // the server has gone
  }
}
