// ralto-sim: drives the simulated plant of the Ralto OPC DA server from
// another process, through the server's control on the session bus
// (ralto/opc_control_bus.h). docs/ralto-sim.md is its manual. Exit codes:
// 0 done, 1 failed (the plant refused, or it is not on the bus), 2 bad usage.
#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ralto/opc_control_bus.h"
#include "sim_text.h"

namespace {

constexpr char kUsage[] =
    "usage: ralto-sim COMMAND [options]\n"
    "  blocks [PATTERN] [--json]\n"
    "  set ITEM STATE [--acked] [--time ISO8601]\n"
    "      STATE: normal|lolo|lo|hi|hihi (level .AS), normal|rocd|rocu (.RS), normal|alarm (bit .AS)\n"
    "  ack ITEM\n"
    "  clear ITEM\n"
    "  value BLOCK VALUE\n"
    "  random RATE [--seed N] [--acks RATE]\n"
    "  fc-writes [--since N] [--json]\n"
    "  fail CALL HRESULT [--skip N] [--times N]\n"
    "  hang CALL\n"
    "  hung\n"
    "  clear-faults\n"
    "  incoherent on|off\n"
    "ITEM is a state word item (NODE.BLOCK.AS, NODE.BLOCK.RS) or NODE.BLOCK for its .AS.\n";

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

constexpr uint64_t kCallTimeoutUs = 10'000'000;
constexpr uint8_t kDefaultFlags = 0x01;  // what the simulation's controllers start with

using AlarmRow = sdbus::Struct<std::string, std::string, uint8_t, bool, uint8_t, uint64_t, uint64_t, uint64_t>;
using BlockRow = sdbus::Struct<std::string, std::string, double, std::vector<std::string>, std::vector<AlarmRow>>;
using FcWriteRow = sdbus::Struct<std::string, int32_t, uint64_t>;

struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  bool json = false;
  bool acked = false;
};

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      o->json = true;
    } else if (arg == "--acked") {
      o->acked = true;
    } else if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return false;
      o->values[arg.substr(2)] = argv[++i];
    } else {
      o->positional.push_back(arg);
    }
  }
  return true;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// A pattern that matches `id` alone.
std::string Literal(const std::string& id) {
  std::string pattern;
  for (char c : id) {
    if (c == '?' || c == '*' || c == '#' || c == '[') {
      pattern += '[';
      pattern += c;
      pattern += ']';
    } else {
      pattern += c;
    }
  }
  return pattern;
}

FILETIME Time(uint64_t ticks) { return Uint64ToFileTime(ticks); }

class CCommand {
 public:
  CCommand(sdbus::IProxy& plant, const Options& options) : plant_(plant), o_(options) {}

  int Blocks() {
    if (o_.positional.size() > 1) return Usage();
    for (const BlockRow& block : List(o_.positional.empty() ? "" : o_.positional[0])) {
      for (const AlarmRow& alarm : block.get<4>()) PrintAlarm(block, alarm);
    }
    return kExitOk;
  }

  int Set() {
    if (o_.positional.size() != 2) return Usage();
    std::string kind;
    uint8_t flags = kDefaultFlags;
    std::string item = Resolve(o_.positional[0], &kind, &flags);
    uint8_t state;
    if (!StateFromName(kind, o_.positional[1], &state)) {
      std::fprintf(stderr, "ralto-sim: %s is no state of %s%s%s\n", o_.positional[1].c_str(), item.c_str(),
                   kind.empty() ? "" : ", which takes ", StateNames(kind).c_str());
      return kind.empty() ? kExitUsage : kExitFailed;
    }
    auto time = o_.values.find("time");
    uint64_t ticks = 0;  // the plant's now
    if (time != o_.values.end()) {
      FILETIME utc;
      if (!ParseIsoTime(time->second, &utc)) {
        std::fprintf(stderr, "ralto-sim: %s is no ISO 8601 time (2024-05-01T10:15:30, ...Z, ...+02:00)\n",
                     time->second.c_str());
        return kExitUsage;
      }
      ticks = FileTimeToUint64(utc);
    }
    bool acked = o_.acked;
    if (state == 0) {
      // A normal alarm as at the start; clear is the return to normal.
      if (time != o_.values.end() || o_.acked) {
        std::fputs("ralto-sim: normal takes neither --time nor --acked (clear returns an alarm to normal)\n", stderr);
        return kExitUsage;
      }
      acked = true;
    }
    plant_.callMethod("SetAlarm")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(item, state, acked, flags, ticks, acked ? ticks : uint64_t(0), uint64_t(0));
    return kExitOk;
  }

  int AckOrClear(const char* method) {
    if (o_.positional.size() != 1) return Usage();
    std::string kind;
    uint8_t flags;
    std::string item = Resolve(o_.positional[0], &kind, &flags);
    plant_.callMethod(method).onInterface(kRaltoControlInterface).withTimeout(kCallTimeoutUs).withArguments(item);
    return kExitOk;
  }

  int Value() {
    if (o_.positional.size() != 2) return Usage();
    char* end = nullptr;
    double value = std::strtod(o_.positional[1].c_str(), &end);
    if (o_.positional[1].empty() || *end) return Usage();
    plant_.callMethod("SetProcessValue")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(o_.positional[0], value);
    return kExitOk;
  }

  // "random 0" without --acks stops the panel operators too: the plant
  // then moves only when told.
  int Random() {
    uint32_t rate, seed = 1, acks = 0;
    if (o_.positional.size() != 1 || !ParseCount(o_.positional[0], &rate) || !Count("seed", &seed)) return Usage();
    bool setAcks = o_.values.count("acks") > 0 || rate == 0;
    if (!Count("acks", &acks)) return Usage();
    plant_.callMethod("RunRandomPlant")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(rate, seed);
    if (setAcks) {
      plant_.callMethod("RunRandomAcknowledgements")
          .onInterface(kRaltoControlInterface)
          .withTimeout(kCallTimeoutUs)
          .withArguments(acks);
    }
    return kExitOk;
  }

  int FcWrites() {
    uint32_t since = 0;
    if (!o_.positional.empty() || !Count("since", &since)) return Usage();
    std::vector<FcWriteRow> writes;
    uint32_t total = 0;
    plant_.callMethod("GetFcWrites")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(since)
        .storeResultsTo(writes, total);
    uint32_t index = since;
    for (const FcWriteRow& w : writes) {
      const std::string& item = w.get<0>();
      auto value = static_cast<uint32_t>(w.get<1>());
      std::string time = LocalTimeText(Time(w.get<2>()));
      if (o_.json) {
        std::printf("{\"index\":%u,\"item\":%s,\"value\":%d,\"time\":%s,\"ticks\":%llu}\n", index,
                    JsonString(item).c_str(), w.get<1>(), JsonString(time).c_str(),
                    static_cast<unsigned long long>(w.get<2>()));
      } else {
        std::printf("%u %s %s %d (0x%04X)\n", index, time.c_str(), item.c_str(), w.get<1>(), value);
      }
      ++index;
    }
    return kExitOk;
  }

  int Fail() {
    int32_t hr;
    uint32_t skip = 0, times = 0;
    if (o_.positional.size() != 2 || !ParseHResult(o_.positional[1], &hr) || !Count("skip", &skip) ||
        !Count("times", &times)) {
      return Usage();
    }
    plant_.callMethod("FailCall")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(o_.positional[0], hr, skip, times);
    return kExitOk;
  }

  int Hang() {
    if (o_.positional.size() != 1) return Usage();
    plant_.callMethod("HangCall")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(o_.positional[0]);
    return kExitOk;
  }

  int Hung() {
    if (!o_.positional.empty()) return Usage();
    uint32_t count = 0;
    plant_.callMethod("GetHungCallers").onInterface(kRaltoControlInterface).withTimeout(kCallTimeoutUs).storeResultsTo(count);
    std::printf("%u\n", count);
    return kExitOk;
  }

  int ClearFaults() {
    if (!o_.positional.empty()) return Usage();
    plant_.callMethod("ClearFailures").onInterface(kRaltoControlInterface).withTimeout(kCallTimeoutUs);
    return kExitOk;
  }

  int Incoherent() {
    if (o_.positional.size() != 1 || (o_.positional[0] != "on" && o_.positional[0] != "off")) return Usage();
    plant_.callMethod("SetIncoherentUpdates")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(o_.positional[0] == "on");
    return kExitOk;
  }

 private:
  std::vector<BlockRow> List(const std::string& pattern) {
    std::vector<BlockRow> blocks;
    plant_.callMethod("ListBlocks")
        .onInterface(kRaltoControlInterface)
        .withTimeout(kCallTimeoutUs)
        .withArguments(pattern)
        .storeResultsTo(blocks);
    return blocks;
  }

  // The state word item that `given` names: itself, or NODE.BLOCK's .AS.
  // An item the plant does not have goes as given (the plant answers for
  // it), with kind "".
  std::string Resolve(const std::string& given, std::string* kind, uint8_t* flags) {
    std::vector<std::string> candidates{given, given + ".AS"};
    for (const std::string& candidate : candidates) {
      size_t dot = candidate.rfind('.');
      if (dot == std::string::npos) continue;
      for (const BlockRow& block : List(Literal(candidate.substr(0, dot)))) {
        for (const AlarmRow& alarm : block.get<4>()) {
          if (alarm.get<0>() != candidate) continue;
          *kind = alarm.get<1>();
          *flags = alarm.get<4>();
          return candidate;
        }
      }
    }
    kind->clear();
    return given;
  }

  bool Count(const char* name, uint32_t* value) const {
    auto it = o_.values.find(name);
    return it == o_.values.end() || ParseCount(it->second, value);
  }

  void PrintAlarm(const BlockRow& block, const AlarmRow& alarm) {
    const std::string& item = alarm.get<0>();
    const std::string& kind = alarm.get<1>();
    std::string state = StateName(kind, alarm.get<2>());
    bool acked = alarm.get<3>();
    std::string activation = LocalTimeText(Time(alarm.get<5>()));
    std::string acknowledgement = LocalTimeText(Time(alarm.get<6>()));
    std::string returned = LocalTimeText(Time(alarm.get<7>()));
    if (o_.json) {
      std::printf("{\"item\":%s,\"block\":%s,\"type\":%s,\"kind\":%s,\"state\":%s,\"stateCode\":%u,\"acked\":%s,"
                  "\"flags\":%u,\"activation\":%s,\"acknowledgement\":%s,\"returnToNormal\":%s,"
                  "\"activationTicks\":%llu,\"acknowledgementTicks\":%llu,\"returnToNormalTicks\":%llu,"
                  "\"value\":%g}\n",
                  JsonString(item).c_str(), JsonString(block.get<0>()).c_str(), JsonString(block.get<1>()).c_str(),
                  JsonString(kind).c_str(), JsonString(state).c_str(), alarm.get<2>(), acked ? "true" : "false",
                  alarm.get<4>(), JsonString(activation).c_str(), JsonString(acknowledgement).c_str(),
                  JsonString(returned).c_str(), static_cast<unsigned long long>(alarm.get<5>()),
                  static_cast<unsigned long long>(alarm.get<6>()), static_cast<unsigned long long>(alarm.get<7>()),
                  block.get<2>());
    } else {
      std::printf("%-28s %-5s %-7s %-7s active %-23s  acked %-23s  returned %-23s  value %g\n", item.c_str(),
                  kind.c_str(), state.c_str(), acked ? "acked" : "UNACKED", activation.c_str(),
                  acknowledgement.c_str(), returned.c_str(), block.get<2>());
    }
  }

  sdbus::IProxy& plant_;
  const Options& o_;
};

// No process owns the control's name.
bool NotOnTheBus(const std::string& error) {
  for (const char* name : {"org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner"}) {
    if (error == name) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc < 2 || !Parse(argc, argv, &options)) return Usage();
  std::string command = argv[1];
  std::unique_ptr<sdbus::IConnection> connection;
  try {
    connection = sdbus::createSessionBusConnection();
  } catch (const sdbus::Error& e) {
    std::fprintf(stderr, "ralto-sim: no session bus: %s\n", e.getMessage().c_str());
    return kExitFailed;
  }
  auto plant = sdbus::createProxy(*connection, kRaltoControlBusName, kRaltoControlPath);
  CCommand run(*plant, options);
  try {
    if (command == "blocks") return run.Blocks();
    if (command == "set") return run.Set();
    if (command == "ack") return run.AckOrClear("Acknowledge");
    if (command == "clear") return run.AckOrClear("Clear");
    if (command == "value") return run.Value();
    if (command == "random") return run.Random();
    if (command == "fc-writes") return run.FcWrites();
    if (command == "fail") return run.Fail();
    if (command == "hang") return run.Hang();
    if (command == "hung") return run.Hung();
    if (command == "clear-faults") return run.ClearFaults();
    if (command == "incoherent") return run.Incoherent();
    return Usage();
  } catch (const sdbus::Error& e) {
    if (NotOnTheBus(e.getName())) {
      std::fputs("ralto-sim: the simulated plant is not on the bus\n", stderr);
    } else {
      std::string what = command;
      if (!options.positional.empty()) what += " " + options.positional[0];
      std::fprintf(stderr, "ralto-sim: %s: %s\n", what.c_str(), e.getMessage().c_str());
    }
    return kExitFailed;
  }
}
