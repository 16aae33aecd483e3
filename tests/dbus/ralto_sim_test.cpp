// The simulated plant's control on a private session bus, driven by
// ralto-sim from another process while this process holds the plugin and
// reads what the controllers publish.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sdbus-c++/sdbus-c++.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/opc_control_bus.h"
#include "tests/ralto/opc_server_fixture.h"
#include "tests/support/debug_capture.h"
#include "tests/support/eventually.h"
#include "tests/support/plugin_registration.h"
#include "tests/support/private_bus.h"
#include "tests/support/run_program.h"

namespace {

ProgramResult Sim(std::vector<std::string> args) { return RunProgram(RALTO_SIM, std::move(args)); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A field of a --json line: a string's text, or a number or literal as written.
std::string Field(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\":");
  if (at == std::string::npos) return "<none>";
  at += name.size() + 3;
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  return line.substr(at, line.find_first_of(",}", at) - at);
}

std::string Ticks(const FILETIME& ft) { return std::to_string(FileTimeToUint64(ft)); }

FILETIME Later(const FILETIME& ft, uint64_t ms) { return Uint64ToFileTime(FileTimeToUint64(ft) + ms * 10'000); }

// The threads of this process.
size_t ThreadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

bool Mapped(const std::string& library) {
  std::ifstream maps("/proc/self/maps");
  std::string name = std::filesystem::path(library).filename().string();
  for (std::string line; std::getline(maps, line);) {
    if (line.find(name) != std::string::npos) return true;
  }
  return false;
}

class RaltoSimTest : public RaltoOpcTest {
 protected:
  // The bus comes first: the control goes on it with the first server.
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(bus_.Start(&error)) << error;
    RaltoOpcTest::SetUp();
    ASSERT_EQ(control_->UseManualClock(kStart), S_OK);
  }

  // The blocks --json line of a state word item.
  static std::string Alarm(const std::string& item) {
    ProgramResult r = Sim({"blocks", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& line : Lines(r.out)) {
      if (Field(line, "item") == item) return line;
    }
    ADD_FAILURE() << item << " not listed:\n" << r.out;
    return {};
  }

  static void Run(std::vector<std::string> args) {
    std::string command;
    for (const auto& a : args) command += " " + a;
    ProgramResult r = Sim(std::move(args));
    EXPECT_EQ(r.exitCode, 0) << "ralto-sim" << command << ": " << r.err;
  }

  // The published value of an item, read from the device.
  uint32_t Published(const std::string& id) {
    if (!items_) AddGroup();
    std::vector<OPCITEMSTATE> states;
    std::vector<HRESULT> errors;
    EXPECT_EQ(Read(OPC_DS_DEVICE, {Item(id, 1)}, &states, &errors), S_OK) << id;
    return states.empty() ? 0 : states[0].vDataValue.ulVal;
  }

  const FILETIME kStart = TestTime(2024, 3, 1, 8, 0, 0);
  CPrivateBus bus_;
};

TEST_F(RaltoSimTest, AlarmsListedSetAcknowledgedAndClearedFromAnotherProcess) {
  // Every alarm of the plant, by kind, normal and acknowledged at first.
  ProgramResult all = Sim({"blocks", "--json"});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  std::vector<std::string> lines = Lines(all.out);
  ASSERT_EQ(lines.size(), 5u) << all.out;
  const char* kinds[][2] = {{"NODE1.LIC1.AS", "level"}, {"NODE1.LIC1.RS", "roc"}, {"NODE1.TI2.AS", "level"},
                            {"NODE1.LS3.AS", "bit"}, {"NODE2.P1.MTR.AS", "bit"}};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(Field(lines[i], "item"), kinds[i][0]);
    EXPECT_EQ(Field(lines[i], "kind"), kinds[i][1]);
    EXPECT_EQ(Field(lines[i], "state"), "normal");
    EXPECT_EQ(Field(lines[i], "acked"), "true");
    EXPECT_EQ(Field(lines[i], "activationTicks"), "0");
  }
  EXPECT_EQ(Field(lines[4], "block"), "NODE2.P1.MTR");
  EXPECT_EQ(Field(lines[4], "type"), "O0D");
  EXPECT_EQ(Lines(Sim({"blocks", "NODE2.*"}).out).size(), 1u);

  // A raised alarm with the controller's time given, reaching the items.
  Run({"set", "NODE1.LIC1", "hihi", "--time", "2024-03-01T07:59:30Z"});
  std::string lic = Alarm("NODE1.LIC1.AS");
  EXPECT_EQ(Field(lic, "state"), "hihi");
  EXPECT_EQ(Field(lic, "acked"), "false");
  EXPECT_EQ(Field(lic, "activationTicks"), Ticks(TestTime(2024, 3, 1, 7, 59, 30)));
  EXPECT_EQ(Field(lic, "acknowledgementTicks"), "0");
  EXPECT_EQ(Published("NODE1.LIC1.AS") & 0x87u, 4u) << "HiHi, unacknowledged";
  // Without a time the plant's clock gives the times the state implies.
  Run({"set", "NODE1.LS3", "alarm"});
  EXPECT_EQ(Field(Alarm("NODE1.LS3.AS"), "activationTicks"), Ticks(kStart));
  Run({"set", "NODE1.LIC1.RS", "rocu", "--acked"});
  std::string roc = Alarm("NODE1.LIC1.RS");
  EXPECT_EQ(Field(roc, "state"), "rocu");
  EXPECT_EQ(Field(roc, "acked"), "true");
  EXPECT_EQ(Field(roc, "acknowledgementTicks"), Ticks(kStart));

  // The operator at the panel acknowledges; later the alarm returns.
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  Run({"ack", "NODE1.LIC1"});
  lic = Alarm("NODE1.LIC1.AS");
  EXPECT_EQ(Field(lic, "acked"), "true");
  EXPECT_EQ(Field(lic, "acknowledgementTicks"), Ticks(Later(kStart, 1000)));
  EXPECT_EQ(Published("NODE1.LIC1.AS") & 0x87u, 0x84u);
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  Run({"clear", "NODE1.LIC1.AS"});
  lic = Alarm("NODE1.LIC1.AS");
  EXPECT_EQ(Field(lic, "state"), "normal");
  EXPECT_EQ(Field(lic, "acked"), "true");
  EXPECT_EQ(Field(lic, "activationTicks"), Ticks(TestTime(2024, 3, 1, 7, 59, 30)));
  EXPECT_EQ(Field(lic, "returnToNormalTicks"), Ticks(Later(kStart, 2000)));
  // A normal alarm set as at the start.
  Run({"set", "NODE1.LS3", "normal"});
  EXPECT_EQ(Field(Alarm("NODE1.LS3.AS"), "activationTicks"), "0");

  // The process value, acted on at the next scan.
  Run({"value", "NODE1.TI2", "95"});
  ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  std::string ti = Alarm("NODE1.TI2.AS");
  EXPECT_EQ(Field(ti, "state"), "hihi");
  EXPECT_EQ(Field(ti, "value"), "95");

  // Incoherent: the word first, its elements at the next scan.
  ASSERT_EQ(control_->AdvanceClock(5000), S_OK);
  uint32_t activation = Published("NODE1.TI2.AS[1]");
  Run({"incoherent", "on"});
  Run({"set", "NODE1.TI2", "lo"});
  EXPECT_EQ(Published("NODE1.TI2.AS") & 0x07u, 2u);
  EXPECT_EQ(Published("NODE1.TI2.AS[1]"), activation);
  ASSERT_EQ(control_->AdvanceClock(100), S_OK);
  EXPECT_NE(Published("NODE1.TI2.AS[1]"), activation);
  Run({"incoherent", "off"});
  Run({"set", "NODE1.TI2", "hi"});
  EXPECT_NE(Published("NODE1.TI2.AS[1]"), activation);
}

TEST_F(RaltoSimTest, RandomPlantPanelOperatorsAndTheFcWriteLog) {
  // The random plant moves the process values, and stops.
  Run({"random", "200", "--seed", "7"});
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  std::string moved = Field(Alarm("NODE1.LIC1.AS"), "value");
  EXPECT_NE(moved, "50");
  Run({"random", "0"});
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  EXPECT_EQ(Field(Alarm("NODE1.LIC1.AS"), "value"), moved);
  // Back to a quiet process value: no scan changes its alarms below.
  Run({"value", "NODE1.LIC1", "50"});
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);

  // Operators at the panels acknowledge what is unacknowledged; "random 0"
  // sends them away again.
  Run({"set", "NODE1.LIC1", "hihi"});
  Run({"random", "0", "--acks", "200"});
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  EXPECT_EQ(Field(Alarm("NODE1.LIC1.AS"), "acked"), "true");
  Run({"random", "0"});
  Run({"set", "NODE1.LIC1", "hihi"});
  ASSERT_EQ(control_->AdvanceClock(1000), S_OK);
  EXPECT_EQ(Field(Alarm("NODE1.LIC1.AS"), "acked"), "false");

  // The ".FC" writes of a client, from an index on.
  AddGroup();
  HRESULT error;
  ASSERT_EQ(WriteI4(Item("NODE1.LIC1.FC", 1), 0x0101, &error), S_OK);
  ASSERT_EQ(WriteI4(Item("NODE1.LS3.FC", 2), 0x0102, &error), S_OK);
  ProgramResult writes = Sim({"fc-writes", "--json"});
  ASSERT_EQ(writes.exitCode, 0) << writes.err;
  std::vector<std::string> lines = Lines(writes.out);
  ASSERT_EQ(lines.size(), 2u) << writes.out;
  EXPECT_EQ(Field(lines[0], "index"), "0");
  EXPECT_EQ(Field(lines[0], "item"), "NODE1.LIC1.FC");
  EXPECT_EQ(Field(lines[0], "value"), "257");
  EXPECT_EQ(Field(lines[0], "ticks"), Ticks(Later(kStart, 6000)));
  lines = Lines(Sim({"fc-writes", "--since", "1", "--json"}).out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Field(lines[0], "index"), "1");
  EXPECT_EQ(Field(lines[0], "item"), "NODE1.LS3.FC");
  EXPECT_EQ(Sim({"fc-writes", "--since", "9"}).out, "");
  ProgramResult readable = Sim({"fc-writes"});
  EXPECT_NE(readable.out.find(" NODE1.LIC1.FC 257 (0x0101)\n"), std::string::npos) << readable.out;
  EXPECT_EQ(Field(Alarm("NODE1.LIC1.AS"), "acked"), "true") << "the write acknowledged it";
}

TEST_F(RaltoSimTest, FaultsAndBadArgumentsAnsweredWhileThePluginKeepsServing) {
  AddGroup();
  OPCHANDLE handle = Item("NODE1.LIC1.AS", 1);
  std::vector<OPCITEMSTATE> states;
  std::vector<HRESULT> errors;
  Run({"fail", "read", "0x80004005", "--times", "1"});
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), E_FAIL);
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), S_OK) << "once only";
  Run({"fail", "read", "-2147467259", "--skip", "1"});
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), S_OK);
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), E_FAIL);
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), E_FAIL) << "until cleared";
  Run({"clear-faults"});
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), S_OK);

  // A hanging call blocks its caller until the faults are cleared.
  Run({"hang", "getstatus"});
  std::thread caller([&] {
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server_->GetStatus(&status), S_OK);
    OpcFreeServerStatus(status);
  });
  EXPECT_TRUE(Eventually([] { return Sim({"hung"}).out == "1\n"; }));
  Run({"clear-faults"});
  caller.join();
  EXPECT_EQ(Sim({"hung"}).out, "0\n");

  // Refusals carry the code the plant answers; nothing changes.
  struct Refused {
    std::vector<std::string> args;
    const char* error;
  } refused[] = {
      {{"set", "NODE1.NONE", "hihi"}, "0xC0040007"},
      {{"set", "NODE1.LIC1", "9"}, "0x80070057"},
      {{"set", "NODE1.LIC1.FC", "1"}, "0x80070057"},
      {{"ack", "NODE9.X.AS"}, "0xC0040007"},
      {{"clear", "NODE1.LIC1.PI"}, "0x80070057"},
      {{"value", "NODE1.NONE", "1"}, "0xC0040007"},
      {{"blocks", "NODE[1"}, "0x80070057"},
      {{"fail", "nosuchcall", "0x80004005"}, "unknown call"},
      {{"fail", "read", "0"}, "0x80070057"},
      {{"hang", "nosuchcall"}, "unknown call"},
  };
  for (const Refused& r : refused) {
    ProgramResult result = Sim(r.args);
    EXPECT_EQ(result.exitCode, 1) << r.args[0] << " " << r.args[1];
    EXPECT_NE(result.err.find(r.error), std::string::npos) << result.err;
  }
  // A state of another kind, told apart before the plant is asked.
  ProgramResult kind = Sim({"set", "NODE1.LS3", "hihi"});
  EXPECT_EQ(kind.exitCode, 1);
  EXPECT_NE(kind.err.find("normal|alarm"), std::string::npos) << kind.err;
  for (std::vector<std::string> usage : std::vector<std::vector<std::string>>{
           {}, {"set", "NODE1.LIC1"}, {"set", "NODE1.LIC1", "hihi", "--time", "yesterday"},
           {"set", "NODE1.LIC1", "normal", "--acked"}, {"value", "NODE1.TI2", "high"}, {"random", "-1"},
           {"incoherent", "maybe"}, {"fail", "read", "0xZZ"}, {"nosuchcommand"}}) {
    EXPECT_EQ(Sim(usage).exitCode, 2) << (usage.empty() ? "" : usage[0]);
  }
  // Calls of the wrong shape from any client.
  ProgramResult shape = RunProgram("/usr/bin/dbus-send",
                                   {"--session", "--print-reply", std::string("--dest=") + kRaltoControlBusName,
                                    kRaltoControlPath, std::string(kRaltoControlInterface) + ".SetAlarm",
                                    "string:NODE1.LIC1.AS"});
  EXPECT_NE(shape.exitCode, 0);
  EXPECT_NE(shape.err.find("InvalidArgs"), std::string::npos) << shape.err;

  EXPECT_EQ(Field(Alarm("NODE1.LIC1.AS"), "state"), "normal");
  EXPECT_EQ(Read(OPC_DS_DEVICE, {handle}, &states, &errors), S_OK);
}

HRESULT CreateServer(ComPtr<IOPCServer>* server) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kRaltoOpcProgId, &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, server->PutVoid());
}

TEST(RaltoControlBus, ANameTakenIsSaidOnceAndTheServerServesWithoutIt) {
  CPrivateBus bus;
  std::string error;
  ASSERT_TRUE(bus.Start(&error)) << error;
  auto other = sdbus::createSessionBusConnection();
  other->requestName(kRaltoControlBusName);
  ASSERT_EQ(RegisterPlugin(RALTO_OPC_LIBRARY, &error), S_OK) << error;
  ScopedDebugCapture debug;
  ComPtr<IOPCServer> first, second;
  ASSERT_EQ(CreateServer(&first), S_OK);
  ASSERT_EQ(CreateServer(&second), S_OK);
  ASSERT_EQ(debug.Lines().size(), 1u);
  EXPECT_TRUE(debug.Contains("not on the bus: Brixham.RaltoOPC")) << debug.Lines()[0];
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(second->GetStatus(&status), S_OK);
  OpcFreeServerStatus(status);
  // The plugin tried once: a name set free later stays free.
  other->releaseName(kRaltoControlBusName);
  ProgramResult sim = Sim({"blocks"});
  EXPECT_EQ(sim.exitCode, 1);
  EXPECT_EQ(sim.err, "ralto-sim: the simulated plant is not on the bus\n");
}

TEST(RaltoControlBus, SwitchedOffInTheRegistry) {
  CPrivateBus bus;
  std::string error;
  ASSERT_TRUE(bus.Start(&error)) << error;
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcControlBusValue, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegisterPlugin(RALTO_OPC_LIBRARY, &error), S_OK) << error;
  ScopedDebugCapture debug;
  ComPtr<IOPCServer> server;
  ASSERT_EQ(CreateServer(&server), S_OK);
  EXPECT_TRUE(debug.Lines().empty());
  EXPECT_EQ(Sim({"blocks"}).err, "ralto-sim: the simulated plant is not on the bus\n");
}

TEST(RaltoControlBus, UnloadingTheLibraryEndsItsThreadsAndFreesTheName) {
  CPrivateBus bus;
  std::string error;
  ASSERT_TRUE(bus.Start(&error)) << error;
  // A sanitizer's runtime starts a thread of its own with the first one.
  std::thread([] {}).join();
  size_t threads = ThreadCount();
  void* library = dlopen(RALTO_OPC_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  ASSERT_NE(getClassObject, nullptr);
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_RaltoOpcServer, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<IOPCServer> server;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, server.PutVoid()), S_OK);
  }
  ProgramResult served = Sim({"blocks", "TANKFARM.LIC101"});
  EXPECT_EQ(served.exitCode, 0) << served.err;
  EXPECT_NE(served.out.find("TANKFARM.LIC101.AS"), std::string::npos) << served.out;
  ASSERT_EQ(dlclose(library), 0);
  EXPECT_FALSE(Mapped(RALTO_OPC_LIBRARY)) << "the library stayed loaded";
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_EQ(Sim({"blocks"}).err, "ralto-sim: the simulated plant is not on the bus\n");
}

}  // namespace
