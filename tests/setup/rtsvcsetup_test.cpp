// librtsvcsetup through dlopen: installing, starting, stopping and removing
// the controller runtime's service, with what each step leaves in the store.
#include <gtest/gtest.h>

#include <chrono>

#include "rtsvcsetup_fixture.h"
#include "tests/support/eventually.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Values = std::map<std::string, StoredValue>;

constexpr uint32_t kUntouched = 0xDEADBEEF;

class RuntimeService : public RuntimeSetup {};

TEST_F(RuntimeService, AddOnACleanMachineWritesEverythingAndStartsNothing) {
  ASSERT_EQ(SetRaw(kParametersKey, "NullSessionPipes", REG_MULTI_SZ, std::string("COMNAP\0SQL\\QUERY\0\0", 18)),
            ERROR_SUCCESS);
  uint32_t error = kUntouched;
  EXPECT_EQ(Add(kServiceProgram, 0, error), 0u);
  EXPECT_EQ(error, kUntouched);

  EXPECT_EQ(KeyValues(kRuntimeKey), (Values{{"Type", Dword(0x20)},
                                            {"Start", Dword(2)},
                                            {"ErrorControl", Dword(1)},
                                            {"ImagePath", Text(kServiceProgram, REG_EXPAND_SZ)},
                                            {"DisplayName", Text("Brannock Runtime")},
                                            {"ObjectName", Text("LocalSystem")}}));
  EXPECT_EQ(KeyValues(kParametersKey)["NullSessionPipes"],
            (StoredValue{REG_MULTI_SZ, std::string("COMNAP\0SQL\\QUERY\0TARNWICK\0\0", 27)}));
  EXPECT_EQ(KeyValues(kEventSourceKey), (Values{{"EventMessageFile", Text(kServiceProgram, REG_EXPAND_SZ)},
                                                {"TypesSupported", Dword(7)},
                                                {"CategoryCount", Dword(3)},
                                                {"CategoryMessageFile", Text(kServiceProgram, REG_EXPAND_SZ)}}));
  // The test program has no extension: ".run" comes after its name.
  EXPECT_EQ(KeyValues(kConfigurationKey), (Values{{"brannockDBName", Text(kServiceProgram + ".run")},
                                                  {"brannockDATSaved", Dword(1)},
                                                  {"brannockHeapSize", Dword(0x100000)},
                                                  {"brannockVarHeapSize", Dword(0x40000)}}));
  EXPECT_EQ(TestServiceState("BrannockRuntime"), SERVICE_STOPPED);
  EXPECT_EQ(IsService(), 1u);
}

TEST_F(RuntimeService, ASecondAddFailsAtOnceAndChangesNothingElse) {
  uint32_t error = kUntouched;
  ASSERT_EQ(Add(kServiceProgram, 0, error), 0u);
  // Marks that a second run of the later steps would undo.
  ASSERT_EQ(SetRaw(kParametersKey, "NullSessionPipes", REG_MULTI_SZ, std::string("OTHER\0\0", 7)), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kConfigurationKey, "brannockDATSaved", 0), ERROR_SUCCESS);
  const Values service = KeyValues(kRuntimeKey), pipes = KeyValues(kParametersKey),
               source = KeyValues(kEventSourceKey), config = KeyValues(kConfigurationKey);

  EXPECT_EQ(Add("/opt/other/Runtime.exe", 1, error), uint32_t(ERROR_SERVICE_EXISTS));
  EXPECT_EQ(error, uint32_t(ERROR_SERVICE_EXISTS));
  EXPECT_EQ(KeyValues(kRuntimeKey), service);
  EXPECT_EQ(KeyValues(kParametersKey), pipes);
  EXPECT_EQ(KeyValues(kEventSourceKey), source);
  EXPECT_EQ(KeyValues(kConfigurationKey), config);
  EXPECT_EQ(TestServiceState("BrannockRuntime"), SERVICE_STOPPED);
}

TEST_F(RuntimeService, ThePipeListIsExtendedOnlyWhenItLacksThePipe) {
  // Already there in lower case: untouched, byte for byte.
  const std::string listed("comnap\0tarnwick\0\0", 17);
  ASSERT_EQ(SetRaw(kParametersKey, "NullSessionPipes", REG_MULTI_SZ, listed), ERROR_SUCCESS);
  uint32_t error = kUntouched;
  ASSERT_EQ(Add(kServiceProgram, 0, error), 0u);
  EXPECT_EQ(KeyValues(kParametersKey)["NullSessionPipes"], (StoredValue{REG_MULTI_SZ, listed}));

  // Not a list: left alone, and no error.
  ASSERT_EQ(WithService("BrannockRuntime", SERVICE_DELETE, [](SC_HANDLE s) { return DeleteService(s); }), 0u);
  ASSERT_EQ(SetRaw(kParametersKey, "NullSessionPipes", REG_SZ, std::string("COMNAP", 7)), ERROR_SUCCESS);
  EXPECT_EQ(Add(kServiceProgram, 0, error), 0u);
  EXPECT_EQ(KeyValues(kParametersKey)["NullSessionPipes"], Text("COMNAP"));

  // An empty list gets the pipe alone; a missing key stays missing.
  ASSERT_EQ(WithService("BrannockRuntime", SERVICE_DELETE, [](SC_HANDLE s) { return DeleteService(s); }), 0u);
  ASSERT_EQ(SetRaw(kParametersKey, "NullSessionPipes", REG_MULTI_SZ, std::string(2, '\0')), ERROR_SUCCESS);
  EXPECT_EQ(Add(kServiceProgram, 0, error), 0u);
  EXPECT_EQ(KeyValues(kParametersKey)["NullSessionPipes"], (StoredValue{REG_MULTI_SZ, std::string("TARNWICK\0\0", 10)}));
  ASSERT_EQ(WithService("BrannockRuntime", SERVICE_DELETE, [](SC_HANDLE s) { return DeleteService(s); }), 0u);
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\LanmanServer"), ERROR_SUCCESS);
  EXPECT_EQ(Add(kServiceProgram, 0, error), 0u);
  EXPECT_FALSE(KeyExists(kParametersKey));
  EXPECT_EQ(error, kUntouched);
}

TEST_F(RuntimeService, TheDatabaseNameIsThePathInLowerCaseEndingInRun) {
  uint32_t error = kUntouched;
  const std::string path = "/opt/Brannock/Bin/Runtime.EXE";
  ASSERT_EQ(Add(path, 0, error), 0u);
  EXPECT_EQ(KeyValues(kConfigurationKey)["brannockDBName"], Text("/opt/brannock/bin/runtime.run"));
  EXPECT_EQ(KeyValues(kRuntimeKey)["ImagePath"], Text(path, REG_EXPAND_SZ));  // the program's path as given

  // A dot in a folder is no extension; a path longer than 259 is refused
  // before anything is written.
  ASSERT_EQ(WithService("BrannockRuntime", SERVICE_DELETE, [](SC_HANDLE s) { return DeleteService(s); }), 0u);
  ASSERT_EQ(Add("/opt/v1.2/Runtime", 0, error), 0u);
  EXPECT_EQ(KeyValues(kConfigurationKey)["brannockDBName"], Text("/opt/v1.2/runtime.run"));
  ASSERT_EQ(WithService("BrannockRuntime", SERVICE_DELETE, [](SC_HANDLE s) { return DeleteService(s); }), 0u);
  EXPECT_EQ(Add("/" + std::string(259, 'p'), 0, error), uint32_t(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(error, uint32_t(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(IsService(), 0u);
  void* noPath[] = {nullptr, &error};
  EXPECT_EQ(add(noPath, 0), uint32_t(ERROR_INVALID_PARAMETER));
}

// Starting parks the controller product's own service: stopped, on demand,
// its display name set; nothing else of it changes.
TEST_F(RuntimeService, AddWithStartStartsTheRuntimeAndParksTheController) {
  ASSERT_EQ(InstallTestService("TarnwickController", "", SERVICE_AUTO_START), 0u);
  ASSERT_EQ(StartTestService("TarnwickController"), 0u);
  ASSERT_TRUE(WaitForServiceState("TarnwickController", SERVICE_RUNNING));
  const std::string controllerKey = "SYSTEM\\CurrentControlSet\\Services\\TarnwickController";
  Values controller = KeyValues(controllerKey);

  uint32_t error = kUntouched;
  EXPECT_EQ(Add(kServiceProgram, 1, error), 0u);
  EXPECT_EQ(error, 0u);
  EXPECT_TRUE(WaitForServiceState("BrannockRuntime", SERVICE_RUNNING));
  EXPECT_TRUE(WaitForServiceState("TarnwickController", SERVICE_STOPPED));
  controller["Start"] = Dword(SERVICE_DEMAND_START);
  controller["DisplayName"] = Text("Tarnwick Controller");
  EXPECT_EQ(KeyValues(controllerKey), controller);

  // Starting what runs is no error.
  error = kUntouched;
  EXPECT_EQ(Call(start, error), 0u);
  EXPECT_EQ(error, 0u);
}

TEST_F(RuntimeService, StopStopsTheRuntimeAndTheOlderRuntime) {
  uint32_t error = kUntouched;
  EXPECT_EQ(Call(stop, error), uint32_t(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(error, uint32_t(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(Call(start, error), uint32_t(ERROR_SERVICE_DOES_NOT_EXIST));

  // Stopped already, and no older runtime installed.
  ASSERT_EQ(Add(kServiceProgram, 0, error), 0u);
  error = kUntouched;
  EXPECT_EQ(Call(stop, error), 0u);
  EXPECT_EQ(error, 0u);

  ASSERT_EQ(InstallTestService("Stelmar"), 0u);
  ASSERT_EQ(StartTestService("Stelmar"), 0u);
  ASSERT_EQ(Call(start, error), 0u);
  ASSERT_TRUE(WaitForServiceState("BrannockRuntime", SERVICE_RUNNING));
  ASSERT_TRUE(WaitForServiceState("Stelmar", SERVICE_RUNNING));
  EXPECT_EQ(Call(stop, error), 0u);
  EXPECT_TRUE(WaitForServiceState("BrannockRuntime", SERVICE_STOPPED));
  EXPECT_TRUE(WaitForServiceState("Stelmar", SERVICE_STOPPED));
  EXPECT_EQ(stop(nullptr), uint32_t(ERROR_INVALID_PARAMETER));
}

TEST_F(RuntimeService, RemoveDeletesTheServiceAndItsEventSource) {
  uint32_t error = kUntouched;
  ASSERT_EQ(Add(kServiceProgram, 1, error), 0u);
  ASSERT_TRUE(WaitForServiceState("BrannockRuntime", SERVICE_RUNNING));
  error = kUntouched;
  EXPECT_EQ(Call(remove, error), 0u);
  EXPECT_EQ(error, 0u);
  EXPECT_FALSE(KeyExists(kRuntimeKey));
  EXPECT_FALSE(KeyExists(kEventSourceKey));
  EXPECT_EQ(IsService(), 0u);
  // What else came with it stays.
  EXPECT_TRUE(KeyExists(kConfigurationKey));

  // Without the event log source the deletion's error is the result.
  ASSERT_EQ(Add(kServiceProgram, 0, error), 0u);
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, kEventSourceKey), ERROR_SUCCESS);
  EXPECT_EQ(Call(remove, error), uint32_t(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(IsService(), 0u);
  EXPECT_EQ(Call(remove, error), uint32_t(ERROR_SERVICE_DOES_NOT_EXIST));
}

// The same library built to wait 1.5 s instead of 30 s for the stop.
class QuickRemove : public RuntimeSetup {
 protected:
  QuickRemove() : RuntimeSetup(RTSVCSETUP_QUICKREMOVE_LIBRARY) {}
};

TEST_F(QuickRemove, ARuntimeThatDoesNotStopIsDeletedAfterTheWait) {
  uint32_t error = kUntouched;
  ASSERT_EQ(Add(kServiceProgram, 0, error), 0u);
  const std::string stubborn = kServiceProgram + " --ignore-stop";
  ASSERT_EQ(WithService("BrannockRuntime", SERVICE_CHANGE_CONFIG, [&](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, stubborn.c_str(),
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
            }),
            0u);
  ASSERT_EQ(Call(start, error), 0u);
  ASSERT_TRUE(WaitForServiceState("BrannockRuntime", SERVICE_RUNNING));

  auto begin = Clock::now();
  EXPECT_EQ(Call(remove, error), 0u);
  EXPECT_GE(Clock::now() - begin, 1400ms);
  EXPECT_EQ(error, 0u);
  EXPECT_FALSE(KeyExists(kEventSourceKey));
  // Marked for deletion while its process lives; gone once it has ended.
  EXPECT_EQ(KeyValues(kRuntimeKey)["DeleteFlag"], Dword(1));
  EXPECT_EQ(TestServiceState("BrannockRuntime"), SERVICE_STOP_PENDING);
  KillTestService("BrannockRuntime");
  EXPECT_TRUE(Eventually([&] { return IsService() == 0; }));
  EXPECT_FALSE(KeyExists(kRuntimeKey));
}

}  // namespace
