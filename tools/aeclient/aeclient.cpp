// aeclient: the operator's and the engineer's OPC AE client over D-Bus.
// docs/aeclient.md is its manual. Exit codes: 0 done, 1 the server refused
// (its HRESULT is printed), 2 bad usage, 3 the server cannot be reached.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "toolkit/dbus/dbus_client.h"

namespace {

constexpr char kProgId[] = "Corvane.OPCAEqrxServer.1";
constexpr char kUsage[] =
    "usage: aeclient COMMAND [options]\n"
    "  status\n"
    "  areas [AREA] [--filter PATTERN]\n"
    "  sources [AREA] [--filter PATTERN]\n"
    "  conditions SOURCE\n"
    "  subscribe [--severity LOW[-HIGH]] [--area A]... [--source S]... [--category ID]...\n"
    "            [--json | --tally] [--count N] [--seconds S]\n"
    "  refresh [--json] [subscribe's filters]\n"
    "  ack SOURCE CONDITION --comment TEXT [--operator NAME]\n"
    "  enable|disable (--area A | --source S)...\n"
    "  enable-state (--area A | --source S)...\n";

enum ExitCode { kExitOk = 0, kExitRefused = 1, kExitUsage = 2, kExitUnreachable = 3 };

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;
  bool json = false;
  bool tally = false;
};

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      o->json = true;
    } else if (arg == "--tally") {
      o->tally = true;
    } else if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return false;
      o->values[arg.substr(2)].push_back(argv[++i]);
    } else {
      o->positional.push_back(arg);
    }
  }
  return true;
}

std::string One(const Options& o, const char* name, const std::string& fallback = "") {
  auto it = o.values.find(name);
  return it == o.values.end() ? fallback : it->second.back();
}

std::string TimeText(FILETIME ft) {
  uint64_t ticks = FileTimeToUint64(ft);
  if (ticks < kFileTimeUnixEpoch) return "-";
  uint64_t since = ticks - kFileTimeUnixEpoch;
  time_t seconds = static_cast<time_t>(since / kFileTimeTicksPerSecond);
  tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  size_t n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03u", unsigned(since % kFileTimeTicksPerSecond / 10'000));
  return text;
}

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintEvent(const ONEVENTSTRUCT& e, bool refresh, bool json) {
  bool active = e.wNewState & OPC_CONDITION_ACTIVE, acked = e.wNewState & OPC_CONDITION_ACKED;
  bool enabled = e.wNewState & OPC_CONDITION_ENABLED;
  if (json) {
    std::printf("{\"time\":%s,\"source\":%s,\"condition\":%s,\"subcondition\":%s,\"severity\":%u,"
                "\"category\":%u,\"type\":%u,\"message\":%s,\"changeMask\":%u,\"newState\":%u,\"active\":%s,"
                "\"acked\":%s,\"enabled\":%s,\"ackRequired\":%s,\"activeTime\":%s,\"activeTicks\":%llu,"
                "\"cookie\":%u,\"quality\":%u,\"actor\":%s,\"refresh\":%s}\n",
                Json(TimeText(e.ftTime)).c_str(), Json(e.szSource).c_str(), Json(e.szConditionName).c_str(),
                Json(e.szSubconditionName).c_str(), e.dwSeverity, e.dwEventCategory, e.dwEventType,
                Json(e.szMessage).c_str(), e.wChangeMask, e.wNewState, active ? "true" : "false",
                acked ? "true" : "false", enabled ? "true" : "false", e.bAckRequired ? "true" : "false",
                Json(TimeText(e.ftActiveTime)).c_str(),
                static_cast<unsigned long long>(FileTimeToUint64(e.ftActiveTime)), e.dwCookie, e.wQuality,
                Json(e.szActorID).c_str(), refresh ? "true" : "false");
  } else {
    std::printf("%s %s%s %s%s%s sev %u %s%s%s %s\n", TimeText(e.ftTime).c_str(), refresh ? "(refresh) " : "",
                e.szSource.c_str(), e.szConditionName.c_str(), e.szSubconditionName.empty() ? "" : "/",
                e.szSubconditionName.c_str(), e.dwSeverity, active ? "ACTIVE" : "inactive",
                acked ? " acked" : " UNACKED", enabled ? "" : " disabled", e.szMessage.c_str());
  }
  std::fflush(stdout);
}

// No server answers the name: not registered, not startable, gone.
bool Unreachable(const std::string& error) {
  for (const char* name : {"org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.Spawn",
                           "org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.NameHasNoOwner",
                           "org.freedesktop.DBus.Error.Disconnected"}) {
    if (error.rfind(name, 0) == 0) return true;
  }
  return false;
}

class CCommand {
 public:
  CCommand(CAEDBusClient& client, const Options& options) : client_(client), o_(options) {}

  int Refused(const char* what, HRESULT hr) {
    std::fprintf(stderr, "aeclient: %s failed: 0x%08X %s\n", what, static_cast<unsigned>(hr),
                 client_.LastError().c_str());
    return kExitRefused;
  }

  int Status() {
    OPCEVENTSERVERSTATUS s;
    HRESULT hr = client_.GetStatus(&s);
    if (FAILED(hr)) return Refused("GetStatus", hr);
    static const char* kStates[] = {"", "running", "failed", "no configuration", "suspended", "test",
                                    "communication fault"};
    std::printf("state: %s\nvendor: %s\nversion: %u.%u.%u\nstarted: %s\ncurrent: %s\n",
                s.dwServerState < 7 ? kStates[s.dwServerState] : "?", s.szVendorInfo.c_str(), s.wMajorVersion,
                s.wMinorVersion, s.wBuildNumber, TimeText(s.ftStartTime).c_str(), TimeText(s.ftCurrentTime).c_str());
    CAEDBusTransport::Stats stats;
    uint64_t mine = 0;
    if (SUCCEEDED(client_.GetTransportStatistics(&stats, &mine))) {
      std::printf("bus clients: %u\nsignals sent: %llu\nevents sent: %llu\nevents dropped: %llu\n", stats.clients,
                  static_cast<unsigned long long>(stats.signalsSent), static_cast<unsigned long long>(stats.eventsSent),
                  static_cast<unsigned long long>(stats.eventsDropped));
    }
    return kExitOk;
  }

  int Browse(OPCAEBROWSETYPE type) {
    std::string area = o_.positional.empty() ? "" : o_.positional[0];
    std::vector<std::string> names;
    HRESULT hr = client_.Browse(area, type, One(o_, "filter"), &names);
    if (FAILED(hr)) return Refused("BrowseOPCAreas", hr);
    for (const auto& name : names) {
      std::string qualified = name;
      if (type == OPC_SOURCE) client_.GetQualifiedSourceName(area, name, &qualified);
      std::printf("%s\n", qualified.c_str());
    }
    return kExitOk;
  }

  int Conditions() {
    if (o_.positional.size() != 1) return Usage();
    const std::string& source = o_.positional[0];
    std::vector<std::string> names;
    HRESULT hr = client_.QuerySourceConditions(source, &names);
    if (FAILED(hr)) return Refused("QuerySourceConditions", hr);
    for (const auto& name : names) {
      OPCCONDITIONSTATE s;
      hr = client_.GetConditionState(source, name, &s);
      if (FAILED(hr)) return Refused("GetConditionState", hr);
      std::printf("%s %s%s%s sev %u %s%s%s last active %s\n", name.c_str(), s.wState & OPC_CONDITION_ENABLED ? "" : "disabled ",
                  s.wState & OPC_CONDITION_ACTIVE ? "ACTIVE " : "inactive ",
                  s.szActiveSubCondition.c_str(), s.dwASCSeverity, s.wState & OPC_CONDITION_ACKED ? "acked" : "UNACKED",
                  s.szAcknowledgerID.empty() ? "" : " by ", s.szAcknowledgerID.c_str(),
                  TimeText(s.ftCondLastActive).c_str());
    }
    return kExitOk;
  }

  bool Filter(CAEDBusClient::Filter* f) {
    std::string severity = One(o_, "severity");
    if (!severity.empty()) {
      char* end = nullptr;
      f->lowSeverity = std::strtoul(severity.c_str(), &end, 10);
      f->highSeverity = *end == '-' ? std::strtoul(end + 1, &end, 10) : 1000;
      if (*end) return false;
    }
    if (auto it = o_.values.find("area"); it != o_.values.end()) f->areas = it->second;
    if (auto it = o_.values.find("source"); it != o_.values.end()) f->sources = it->second;
    if (auto it = o_.values.find("category"); it != o_.values.end()) {
      for (const auto& c : it->second) f->categories.push_back(std::strtoul(c.c_str(), nullptr, 10));
    }
    return true;
  }

  static long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1'000'000;
  }

  // Live events until --count of them or --seconds have passed (forever
  // without either); with `refresh`, the refresh's events until its last.
  // With --tally, instead of the events, the number received so far once a
  // second and at the end: a busy server watched without printing each.
  int Subscribe(bool refresh) {
    CAEDBusClient::Filter filter;
    if (!Filter(&filter)) return Usage();
    long count = std::strtol(One(o_, "count", "0").c_str(), nullptr, 10);
    long seconds = std::strtol(One(o_, "seconds", "0").c_str(), nullptr, 10);
    long seen = 0;
    bool done = false, shutdown = false;
    client_.OnShutdown([&](const std::string& reason) {
      std::fprintf(stderr, "aeclient: the server shuts down: %s\n", reason.c_str());
      shutdown = true;
    });
    HRESULT hr = client_.Subscribe(0, 0, filter, [&](BOOL isRefresh, BOOL last, const std::vector<ONEVENTSTRUCT>& events) {
      if (refresh && !isRefresh) return;
      for (const auto& e : events) {
        if (count && seen >= count) break;  // the rest of the batch is beyond --count
        if (!o_.tally) PrintEvent(e, isRefresh, o_.json);
        ++seen;
      }
      if (count && seen >= count) done = true;
      if (refresh && last) done = true;
    });
    if (FAILED(hr)) return Refused("subscribe", hr);
    if (refresh && FAILED(hr = client_.Refresh())) return Refused("Refresh", hr);
    auto printTally = [&] {
      std::printf("events received: %ld\n", seen);
      std::fflush(stdout);
    };
    const long start = MonotonicMs();
    long nextTally = start + 1000;
    while (!done && !shutdown) {
      if (!client_.Pump(200)) return Refused("receive", E_FAIL);
      long now = MonotonicMs();
      if (seconds && now - start >= seconds * 1000) break;
      if (o_.tally && now >= nextTally) {
        printTally();
        nextTally += 1000;
      }
    }
    if (o_.tally) printTally();
    return kExitOk;
  }

  // The condition's active time and cookie come from a refresh of its source.
  int Ack() {
    if (o_.positional.size() != 2 || One(o_, "comment").empty()) return Usage();
    const std::string &source = o_.positional[0], &condition = o_.positional[1];
    CAEDBusClient::Filter filter;
    filter.eventType = OPC_CONDITION_EVENT;
    filter.sources = {source};
    ONEVENTSTRUCT found;
    bool have = false, done = false;
    HRESULT hr = client_.Subscribe(0, 0, filter, [&](BOOL isRefresh, BOOL last, const std::vector<ONEVENTSTRUCT>& events) {
      if (!isRefresh) return;
      for (const auto& e : events) {
        if (e.szSource == source && e.szConditionName == condition) found = e, have = true;
      }
      if (last) done = true;
    });
    if (FAILED(hr)) return Refused("subscribe", hr);
    if (FAILED(hr = client_.Refresh())) return Refused("Refresh", hr);
    for (int i = 0; i < 100 && !done; ++i) {
      if (!client_.Pump(100)) return Refused("receive", E_FAIL);
    }
    if (!have) {
      std::fprintf(stderr, "aeclient: %s %s is neither active nor waiting for acknowledgement\n", source.c_str(),
                   condition.c_str());
      return kExitRefused;
    }
    HRESULT result = E_FAIL;
    hr = client_.AckCondition(One(o_, "operator", getenv("USER") ? getenv("USER") : "operator"), One(o_, "comment"),
                              source, condition, found.ftActiveTime, found.dwCookie, &result);
    if (FAILED(hr)) return Refused("AckCondition", hr);
    if (result == OPC_S_ALREADYACKED) {
      std::printf("%s %s: already acknowledged\n", source.c_str(), condition.c_str());
    } else if (FAILED(result)) {
      return Refused("AckCondition", result);
    } else {
      std::printf("%s %s: acknowledged\n", source.c_str(), condition.c_str());
    }
    return kExitOk;
  }

  int ChangeEnabled(bool enable) {
    auto areas = o_.values.find("area");
    auto sources = o_.values.find("source");
    if (areas == o_.values.end() && sources == o_.values.end()) return Usage();
    const char* what = enable ? "enable" : "disable";
    HRESULT hr;
    if (areas != o_.values.end() && FAILED(hr = client_.ChangeEnabled(enable, true, areas->second))) {
      return Refused(what, hr);
    }
    if (sources != o_.values.end() && FAILED(hr = client_.ChangeEnabled(enable, false, sources->second))) {
      return Refused(what, hr);
    }
    return kExitOk;
  }

  // One line per name: its own setting, and "(area disabled)" when an area
  // above it keeps it off.
  int EnableState() {
    auto areas = o_.values.find("area");
    auto sources = o_.values.find("source");
    if (areas == o_.values.end() && sources == o_.values.end()) return Usage();
    bool unknown = false;
    for (auto it : {areas, sources}) {
      if (it == o_.values.end()) continue;
      std::vector<bool> enabled, effective;
      std::vector<HRESULT> errors;
      HRESULT hr = client_.GetEnableState(it == areas, it->second, &enabled, &effective, &errors);
      if (FAILED(hr)) return Refused("GetEnableState", hr);
      for (size_t i = 0; i < it->second.size() && i < errors.size(); ++i) {
        const char* name = it->second[i].c_str();
        if (FAILED(errors[i])) {
          std::fprintf(stderr, "aeclient: %s: unknown %s\n", name, it == areas ? "area" : "source");
          unknown = true;
        } else {
          std::printf("%s %s%s\n", name, enabled[i] ? "enabled" : "disabled",
                      enabled[i] && !effective[i] ? " (area disabled)" : "");
        }
      }
    }
    return unknown ? kExitRefused : kExitOk;
  }

  static int Usage() {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }

 private:
  CAEDBusClient& client_;
  const Options& o_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc < 2 || !Parse(argc, argv, &options)) return CCommand::Usage();
  std::string command = argv[1];
  std::string error;
  auto client = CAEDBusClient::Connect(kProgId, AeDBusBus::kSession, &error);
  if (!client) {
    std::fprintf(stderr, "aeclient: no session bus: %s\n", error.c_str());
    return kExitUnreachable;
  }
  CCommand run(*client, options);
  int rc;
  if (command == "status") rc = run.Status();
  else if (command == "areas") rc = run.Browse(OPC_AREA);
  else if (command == "sources") rc = run.Browse(OPC_SOURCE);
  else if (command == "conditions") rc = run.Conditions();
  else if (command == "subscribe") rc = run.Subscribe(false);
  else if (command == "refresh") rc = run.Subscribe(true);
  else if (command == "ack") rc = run.Ack();
  else if (command == "enable") rc = run.ChangeEnabled(true);
  else if (command == "disable") rc = run.ChangeEnabled(false);
  else if (command == "enable-state") rc = run.EnableState();
  else rc = CCommand::Usage();
  // A server that cannot be reached at all is not a refusal.
  if (rc == kExitRefused && Unreachable(client->LastError())) rc = kExitUnreachable;
  return rc;
}
