#include "ralto/opc_control_bus_service.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/registry.h"
#include "ralto/opc_control_bus.h"
#include "ralto/opc_error_text.h"
#include "ralto/opc_faults.h"
#include "ralto/opc_plant.h"

namespace {

constexpr char kInvalidArgsError[] = "org.freedesktop.DBus.Error.InvalidArgs";

// (item, kind, state, acknowledged, flags, activation, acknowledgement, return to normal)
using AlarmRow = sdbus::Struct<std::string, std::string, uint8_t, bool, uint8_t, uint64_t, uint64_t, uint64_t>;
// (block, type, process value, item ids, alarms)
using BlockRow = sdbus::Struct<std::string, std::string, double, std::vector<std::string>, std::vector<AlarmRow>>;
// (item, value, time)
using FcWriteRow = sdbus::Struct<std::string, int32_t, uint64_t>;

// Thrown by a handler for a call the plant refuses.
struct CRefusal {
  HRESULT hr;
  std::string why;  // "" : the code's own text
};

void Check(HRESULT hr) {
  if (FAILED(hr)) throw CRefusal{hr, {}};
}

std::string ErrorName(HRESULT hr) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(hr));
  return std::string(kRaltoControlErrorPrefix) + hex;
}

std::string ErrorText(HRESULT hr, const std::string& why) {
  char code[12];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* text = RaltoOpcErrorText(hr);
  return std::string(code) + " " + (!why.empty() ? why : text ? text : "");
}

RaltoOpcCall CallNamed(const std::string& name) {
  RaltoOpcCall call;
  if (!CRaltoOpcFaults::CallFromName(name, &call)) throw CRefusal{E_INVALIDARG, "unknown call \"" + name + "\""};
  return call;
}

uint64_t Ticks(const FILETIME& ft) { return FileTimeToUint64(ft); }

const char* AlarmKind(const RaltoBlockSnapshot& block, int which) {
  if (which == CRaltoController::kRateOfChange) return "roc";
  return block.digital ? "bit" : "level";
}

// A time left 0 that the state implies is the plant's `now`: the
// activation of an alarm state, the acknowledgement of an acknowledged
// alarm that happened, the return of an alarm that happened and is normal.
RaltoAlarmSetting WithImpliedTimes(RaltoAlarmSetting alarm, const FILETIME& now) {
  bool happened = alarm.state != 0 || !IsNullFileTime(alarm.activation);
  if (alarm.state != 0 && IsNullFileTime(alarm.activation)) alarm.activation = now;
  if (alarm.acknowledged && happened && IsNullFileTime(alarm.acknowledgement)) alarm.acknowledgement = now;
  if (alarm.state == 0 && happened && IsNullFileTime(alarm.returnToNormal)) alarm.returnToNormal = now;
  return alarm;
}

template <class T>
T Arg(sdbus::MethodCall& call) {
  T value{};
  call >> value;
  return value;
}

void Wake(int fd) {
  uint64_t one = 1;
  (void)!write(fd, &one, sizeof one);
}

}  // namespace

CRaltoControlBus& CRaltoControlBus::Instance() {
  // What the bus thread uses is made first, so that it outlives the bus.
  CRaltoPlant::Instance();
  CRaltoOpcFaults::Instance();
  static CRaltoControlBus bus;
  return bus;
}

CRaltoControlBus::~CRaltoControlBus() { Stop(); }

void CRaltoControlBus::Start() {
  std::lock_guard lock(mutex_);
  if (tried_) return;
  tried_ = true;
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address || !*address) return;
  DWORD on = 1;
  if (RegGetDword(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcControlBusValue, on) == ERROR_SUCCESS && on == 0) {
    return;
  }
  try {
    connection_ = sdbus::createSessionBusConnection();
  } catch (const sdbus::Error& e) {
    DebugOutput("Ralto OPC server: no session bus, so no control on it: " + e.getMessage() + "\n");
    return;
  }
  try {
    object_ = sdbus::createObject(*connection_, kRaltoControlPath);
    AddMethods();
    object_->finishRegistration();
    connection_->requestName(kRaltoControlBusName);
  } catch (const sdbus::Error& e) {
    DebugOutput(std::string("Ralto OPC server: the control is not on the bus: ") + kRaltoControlBusName + ": " +
                e.getMessage() + "\n");
    object_.reset();
    connection_.reset();
    return;
  }
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

void CRaltoControlBus::Stop() {
  std::lock_guard lock(mutex_);
  if (!connection_) return;
  stop_ = true;
  Wake(wakeFd_);
  thread_.join();
  // The bus thread has ended: this thread owns the connection now.
  try {
    connection_->releaseName(kRaltoControlBusName);
  } catch (const sdbus::Error&) {
    // The bus went away: the name went with it.
  }
  object_.reset();
  connection_.reset();
  close(wakeFd_);
  wakeFd_ = -1;
}

void CRaltoControlBus::Run() {
  while (!stop_) {
    try {
      if (connection_->processPendingRequest()) continue;
      auto poll = connection_->getEventLoopPollData();
      int timeout = -1;
      if (poll.timeout_usec != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t nowUs = uint64_t(now.tv_sec) * 1'000'000 + uint64_t(now.tv_nsec) / 1000;
        timeout = poll.timeout_usec <= nowUs ? 0 : static_cast<int>((poll.timeout_usec - nowUs + 999) / 1000);
      }
      pollfd fds[2] = {{poll.fd, poll.events, 0}, {wakeFd_, POLLIN, 0}};
      ::poll(fds, 2, timeout);
    } catch (const sdbus::Error& e) {
      // The connection broke (the bus went away): nothing more to serve.
      DebugOutput("Ralto OPC server: the control left the bus: " + e.getMessage() + "\n");
      return;
    }
  }
}

void CRaltoControlBus::AddMethod(const char* name, const char* in, const char* out, Handler handler) {
  object_->registerMethod(kRaltoControlInterface, name, in, out, [handler = std::move(handler)](sdbus::MethodCall call) {
    auto reply = call.createReply();
    HRESULT hr = E_FAIL;
    std::string why;
    try {
      handler(call, reply);
      reply.send();
      return;
    } catch (const CRefusal& refusal) {
      hr = refusal.hr;
      why = refusal.why;
    } catch (const sdbus::Error& e) {
      throw sdbus::Error(kInvalidArgsError, e.getMessage());
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (const std::exception& e) {
      why = e.what();
    }
    throw sdbus::Error(ErrorName(hr), ErrorText(hr, why));
  });
}

void CRaltoControlBus::AddMethods() {
  CRaltoPlant& plant = CRaltoPlant::Instance();
  CRaltoOpcFaults& faults = CRaltoOpcFaults::Instance();

  AddMethod("ListBlocks", "s", "a(ssdasa(ssybyttt))", [&plant](sdbus::MethodCall& call, sdbus::MethodReply& reply) {
    auto pattern = Arg<std::string>(call);
    std::vector<RaltoBlockSnapshot> blocks;
    if (FAILED(plant.Blocks(pattern, &blocks))) throw CRefusal{E_INVALIDARG, "malformed pattern \"" + pattern + "\""};
    std::vector<BlockRow> rows;
    rows.reserve(blocks.size());
    for (const RaltoBlockSnapshot& block : blocks) {
      std::vector<AlarmRow> alarms;
      for (const RaltoBlockSnapshot::Alarm& alarm : block.alarms) {
        const RaltoAlarmSetting& s = alarm.setting;
        alarms.emplace_back(alarm.wordItemId, AlarmKind(block, alarm.which), s.state, s.acknowledged != false,
                            s.flags, Ticks(s.activation), Ticks(s.acknowledgement), Ticks(s.returnToNormal));
      }
      rows.emplace_back(block.id, block.digital ? "O0D" : "O0C", block.value, block.itemIds, std::move(alarms));
    }
    reply << rows;
  });
  AddMethod("SetAlarm", "sybyttt", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    auto item = Arg<std::string>(call);
    RaltoAlarmSetting alarm;
    alarm.state = Arg<uint8_t>(call);
    alarm.acknowledged = Arg<bool>(call);
    alarm.flags = Arg<uint8_t>(call);
    alarm.activation = Uint64ToFileTime(Arg<uint64_t>(call));
    alarm.acknowledgement = Uint64ToFileTime(Arg<uint64_t>(call));
    alarm.returnToNormal = Uint64ToFileTime(Arg<uint64_t>(call));
    HRESULT hr = plant.SetAlarm(item, WithImpliedTimes(alarm, plant.Now()));
    if (hr == E_INVALIDARG) throw CRefusal{hr, item + " is no state word, or takes no state " + std::to_string(alarm.state)};
    Check(hr);
  });
  AddMethod("Acknowledge", "s", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    Check(plant.Acknowledge(Arg<std::string>(call)));
  });
  AddMethod("Clear", "s", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    Check(plant.Clear(Arg<std::string>(call)));
  });
  AddMethod("SetProcessValue", "sd", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    auto block = Arg<std::string>(call);
    Check(plant.SetProcessValue(block, Arg<double>(call)));
  });
  AddMethod("RunRandomPlant", "uu", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    auto rate = Arg<uint32_t>(call);
    Check(plant.RunRandomPlant(rate, Arg<uint32_t>(call)));
  });
  AddMethod("RunRandomAcknowledgements", "u", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    Check(plant.RunRandomAcknowledgements(Arg<uint32_t>(call)));
  });
  AddMethod("GetFcWrites", "u", "a(sit)u", [&plant](sdbus::MethodCall& call, sdbus::MethodReply& reply) {
    size_t total = 0;
    std::vector<RaltoFcWrite> writes = plant.FcWritesSince(Arg<uint32_t>(call), &total);
    std::vector<FcWriteRow> rows;
    rows.reserve(writes.size());
    for (const RaltoFcWrite& w : writes) rows.emplace_back(w.itemId, w.value, Ticks(w.time));
    reply << rows << static_cast<uint32_t>(total);
  });
  AddMethod("FailCall", "siuu", "", [&faults](sdbus::MethodCall& call, sdbus::MethodReply&) {
    RaltoOpcCall which = CallNamed(Arg<std::string>(call));
    auto result = static_cast<HRESULT>(Arg<int32_t>(call));
    auto skip = Arg<uint32_t>(call);
    auto times = Arg<uint32_t>(call);
    if (SUCCEEDED(result)) throw CRefusal{E_INVALIDARG, "a failure needs a failure code"};
    Check(faults.Fail(which, result, skip, times));
  });
  AddMethod("HangCall", "s", "", [&faults](sdbus::MethodCall& call, sdbus::MethodReply&) {
    Check(faults.Hang(CallNamed(Arg<std::string>(call))));
  });
  AddMethod("GetHungCallers", "", "u", [&faults](sdbus::MethodCall&, sdbus::MethodReply& reply) {
    reply << static_cast<uint32_t>(faults.HungCallers());
  });
  AddMethod("ClearFailures", "", "", [&faults](sdbus::MethodCall&, sdbus::MethodReply&) { faults.Clear(); });
  AddMethod("SetIncoherentUpdates", "b", "", [&plant](sdbus::MethodCall& call, sdbus::MethodReply&) {
    Check(plant.SetIncoherentUpdates(Arg<bool>(call)));
  });
}
