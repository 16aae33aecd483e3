// soak_acker: the operator of scripts/soak. A client of aeserver over D-Bus
// that follows every condition event and acknowledges, at a steady rate,
// one condition that waits for its acknowledgement (the one waiting
// longest), with the comment "soak N" (N counts from 1). Once a second, and
// when SIGTERM or SIGINT ends it, it prints
//
//   acks sent N accepted N already N refused N idle N waiting N
//
// accepted: the server took it (S_OK); already: OPC_S_ALREADYACKED;
// refused: any failure, as when the controller raised the alarm again
// before the acknowledgement reached it; idle: ticks with nothing waiting;
// waiting: conditions unacknowledged now, as far as the events tell.
//
//   soak_acker [--rate N] [--operator NAME]      (10 a second, "soak")
//
// Exit codes: 0 ended by a signal; 1 the server refused or the connection
// broke; 2 bad usage; 3 no bus.
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>

#include "toolkit/dbus/dbus_client.h"

namespace {

constexpr char kProgId[] = "Corvane.OPCAEqrxServer.1";
constexpr char kUsage[] = "usage: soak_acker [--rate N] [--operator NAME]\n";
enum ExitCode { kExitStopped = 0, kExitRefused = 1, kExitUsage = 2, kExitUnreachable = 3 };

// SIGTERM and SIGINT stay blocked and are looked for between calls, so that
// none interrupts a call to the server: an acknowledgement the server took
// is always counted.
void BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

bool StopRequested() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1;
}

long MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1'000'000;
}

struct Waiting {
  std::string source;
  std::string condition;
  FILETIME activeTime{};
  DWORD cookie = 0;
};

// The conditions waiting for acknowledgement, oldest first, as the events
// report them: an event of an unacknowledged condition brings its latest
// activation (time and cookie), an acknowledged one takes it off.
class CWaitingList {
 public:
  void Note(const ONEVENTSTRUCT& e) {
    std::string key = e.szSource + '\n' + e.szConditionName;
    if (e.wNewState & OPC_CONDITION_ACKED) {
      waiting_.erase(key);
      return;
    }
    auto [it, added] = waiting_.try_emplace(key);
    it->second = Waiting{e.szSource, e.szConditionName, e.ftActiveTime, e.dwCookie};
    if (added) order_.push_back(std::move(key));
  }

  // The one waiting longest; false when none waits.
  bool TakeOldest(Waiting* out) {
    while (!order_.empty()) {
      std::string key = std::move(order_.front());
      order_.pop_front();
      auto it = waiting_.find(key);
      if (it == waiting_.end()) continue;  // acknowledged meanwhile
      *out = std::move(it->second);
      waiting_.erase(it);
      return true;
    }
    return false;
  }

  size_t Size() const { return waiting_.size(); }

 private:
  std::unordered_map<std::string, Waiting> waiting_;
  std::deque<std::string> order_;  // each waiting key once, in the order it began to wait
};

struct Tally {
  unsigned long sent = 0, accepted = 0, already = 0, refused = 0, idle = 0;
};

void Print(const Tally& t, size_t waiting) {
  std::printf("acks sent %lu accepted %lu already %lu refused %lu idle %lu waiting %zu\n", t.sent, t.accepted,
              t.already, t.refused, t.idle, waiting);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  long rate = 10;
  std::string op = "soak";
  for (int i = 1; i < argc; ++i) {
    if (i + 1 < argc && std::strcmp(argv[i], "--rate") == 0) {
      rate = std::strtol(argv[++i], nullptr, 10);
    } else if (i + 1 < argc && std::strcmp(argv[i], "--operator") == 0) {
      op = argv[++i];
    } else {
      std::fputs(kUsage, stderr);
      return kExitUsage;
    }
  }
  if (rate <= 0 || rate > 1000) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  BlockStopSignals();

  std::string error;
  auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  if (!client) {
    std::fprintf(stderr, "soak_acker: no session bus: %s\n", error.c_str());
    return kExitUnreachable;
  }
  CWaitingList waiting;
  CAEDBusClient::Filter filter;
  filter.eventType = OPC_CONDITION_EVENT;
  HRESULT hr = client->Subscribe(0, 0, filter, [&](BOOL refresh, BOOL, const std::vector<ONEVENTSTRUCT>& events) {
    if (refresh) return;
    for (const auto& e : events) waiting.Note(e);
  });
  if (FAILED(hr)) {
    std::fprintf(stderr, "soak_acker: subscribe failed: 0x%08X %s\n", unsigned(hr), client->LastError().c_str());
    return kExitRefused;
  }

  Tally tally;
  const long periodMs = 1000 / rate;
  long nextAck = MonotonicMs() + periodMs, nextPrint = MonotonicMs() + 1000;
  while (!StopRequested()) {
    long now = MonotonicMs();
    if (!client->Pump(static_cast<int>(std::max(0L, std::min(nextAck, nextPrint) - now)))) {
      std::fprintf(stderr, "soak_acker: the connection broke: %s\n", client->LastError().c_str());
      Print(tally, waiting.Size());
      return kExitRefused;
    }
    now = MonotonicMs();
    if (now >= nextAck) {
      nextAck += periodMs;
      Waiting w;
      if (!waiting.TakeOldest(&w)) {
        ++tally.idle;
      } else {
        HRESULT result = E_FAIL;
        std::string comment = "soak " + std::to_string(tally.sent + 1);
        hr = client->AckCondition(op, comment, w.source, w.condition, w.activeTime, w.cookie, &result);
        if (FAILED(hr)) {
          std::fprintf(stderr, "soak_acker: AckCondition failed: 0x%08X %s\n", unsigned(hr),
                       client->LastError().c_str());
          Print(tally, waiting.Size());
          return kExitRefused;
        }
        ++tally.sent;
        if (result == S_OK) ++tally.accepted;
        else if (result == OPC_S_ALREADYACKED) ++tally.already;
        else ++tally.refused;
      }
    }
    if (now >= nextPrint) {
      nextPrint += 1000;
      Print(tally, waiting.Size());
    }
  }
  Print(tally, waiting.Size());
  return kExitStopped;
}
