// The service control manager: the database in the registry store, real
// service processes, and the states every process sees alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/registry.h"
#include "platform/service_launcher.h"
#include "platform/service_record.h"
#include "platform/services.h"
#include "tests/support/eventually.h"
#include "tests/support/service_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";

DWORD Dword(const std::string& key, const std::string& value) {
  DWORD out = 0xDEADBEEF;
  RegGetDword(HKEY_LOCAL_MACHINE, key, value, out);
  return out;
}

std::string Text(const std::string& key, const std::string& value) {
  std::string out;
  RegGetString(HKEY_LOCAL_MACHINE, key, value, out);
  return out;
}

DWORD ValueType(const std::string& key, const std::string& value) {
  HKEY k;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, KEY_READ, &k) != ERROR_SUCCESS) return REG_NONE;
  DWORD type = REG_NONE;
  RegQueryValueEx(k, value, &type, nullptr, nullptr);
  RegCloseKey(k);
  return type;
}

std::vector<std::string> ValueNames(const std::string& key) {
  std::vector<std::string> names;
  HKEY k;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, KEY_READ, &k) != ERROR_SUCCESS) return names;
  std::string name;
  for (DWORD i = 0; RegEnumValue(k, i, name, nullptr) == ERROR_SUCCESS; ++i) names.push_back(name);
  RegCloseKey(k);
  return names;
}

bool KeyExists(const std::string& key) {
  HKEY k;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

class Services : public ServiceTest {};

TEST_F(Services, CreateKeepsTheWindowsValuesAndRefusesBadRequests) {
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = CreateService(manager, "Runner", "The Runner", SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    "/opt/runner/bin/runner -q", "Plant", nullptr, "Base\0+Net\0", nullptr,
                                    nullptr);
  ASSERT_NE(service, nullptr) << GetLastError();
  CloseServiceHandle(service);
  const std::string key = kServices + "Runner";
  EXPECT_EQ(Dword(key, "Type"), 0x20u);
  EXPECT_EQ(Dword(key, "Start"), 2u);
  EXPECT_EQ(Dword(key, "ErrorControl"), 1u);
  EXPECT_EQ(Text(key, "ImagePath"), "/opt/runner/bin/runner -q");
  EXPECT_EQ(ValueType(key, "ImagePath"), REG_EXPAND_SZ);
  EXPECT_EQ(Text(key, "DisplayName"), "The Runner");
  EXPECT_EQ(Text(key, "ObjectName"), "LocalSystem");
  EXPECT_EQ(Text(key, "Group"), "Plant");
  std::vector<std::string> list;
  EXPECT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, key, "DependOnService", list), ERROR_SUCCESS);
  EXPECT_EQ(list, std::vector<std::string>{"Base"});
  EXPECT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, key, "DependOnGroup", list), ERROR_SUCCESS);
  EXPECT_EQ(list, std::vector<std::string>{"Net"});
  EXPECT_EQ(ValueNames(key).size(), 9u);

  auto create = [&](const char* name, DWORD type, DWORD start, const char* path, DWORD* tag = nullptr) {
    SC_HANDLE s = CreateService(manager, name, nullptr, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                path, nullptr, tag, nullptr, nullptr, nullptr);
    DWORD err = s ? 0 : GetLastError();
    if (s) CloseServiceHandle(s);
    return err;
  };
  // The name is a key name, whatever its case.
  EXPECT_EQ(create("RUNNER", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"), DWORD(ERROR_SERVICE_EXISTS));
  EXPECT_EQ(create("", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"), DWORD(ERROR_INVALID_NAME));
  EXPECT_EQ(create("a\\b", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"), DWORD(ERROR_INVALID_NAME));
  EXPECT_EQ(create(std::string(257, 'n').c_str(), SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"),
            DWORD(ERROR_INVALID_NAME));
  EXPECT_EQ(create("Driver", 0x1, SERVICE_DEMAND_START, "/bin/true"), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(create("Boot", SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START, "/bin/true"), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(create("NoPath", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, ""), DWORD(ERROR_INVALID_PARAMETER));
  DWORD tag = 0;
  EXPECT_EQ(create("Tagged", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true", &tag),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(KeyExists(kServices + "Driver"));
  // The display name defaults to the service name.
  EXPECT_EQ(create("Plain", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"), 0u);
  EXPECT_EQ(Text(kServices + "Plain", "DisplayName"), "Plain");
  CloseServiceHandle(manager);

  // Creating needs the right to; a key without "Type" is no service.
  manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
  EXPECT_EQ(create("Other", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"), DWORD(ERROR_ACCESS_DENIED));
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kServices + "EventLog\\System\\Source", "TypesSupported", 7), ERROR_SUCCESS);
  EXPECT_EQ(OpenService(manager, "EventLog", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
  CloseServiceHandle(manager);
}

TEST_F(Services, HandlesCarryTheirRights) {
  ASSERT_EQ(InstallTestService("Rights"), 0u);
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = OpenService(manager, "rights", SERVICE_START);
  ASSERT_NE(service, nullptr);
  SERVICE_STATUS status;
  EXPECT_FALSE(QueryServiceStatus(service, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ControlService(service, 77, &status));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  // A service handle is no manager handle, and a closed one is no handle.
  EXPECT_EQ(OpenService(service, "Rights", SERVICE_START), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseServiceHandle(service));
  EXPECT_FALSE(CloseServiceHandle(service));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(OpenService(manager, "Missing", SERVICE_START), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
  CloseServiceHandle(manager);

  EXPECT_EQ(OpenSCManager(nullptr, "SomeOtherDatabase", SC_MANAGER_CONNECT), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DATABASE_DOES_NOT_EXIST));
  EXPECT_EQ(OpenSCManager("\\\\elsewhere-not-this-host", nullptr, SC_MANAGER_CONNECT), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
  manager = OpenSCManager(nullptr, "ServicesActive", SC_MANAGER_CONNECT);
  EXPECT_NE(manager, nullptr);
  CloseServiceHandle(manager);
}

TEST_F(Services, StartRunsTheProgramAndStopEndsIt) {
  const std::string log = std::filesystem::temp_directory_path().string() + "/starts.log";
  setenv("AE_TEST_LOG", log.c_str(), 1);
  ASSERT_EQ(InstallTestService("Worker", "--log %AE_TEST_LOG% \"two words\""), 0u);
  EXPECT_EQ(TestServiceState("Worker"), SERVICE_STOPPED);
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenService(manager, "Worker", SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  const char* extra[] = {"--from-start"};
  ASSERT_TRUE(StartService(service, 1, extra)) << GetLastError();
  ASSERT_TRUE(WaitForServiceState("Worker", SERVICE_RUNNING));
  SERVICE_STATUS_PROCESS status = TestServiceStatus("Worker");
  EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
  ASSERT_NE(status.dwProcessId, 0u);
  EXPECT_NE(status.dwProcessId, DWORD(getpid()));
  // Its command line, with the variable expanded and the quotes gone.
  std::ifstream in(log);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, std::to_string(status.dwProcessId) + "|--log|" + log + "|two words|--from-start");

  EXPECT_FALSE(StartService(service, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_ALREADY_RUNNING));
  SERVICE_STATUS after;
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &after));
  EXPECT_EQ(after.dwCurrentState, SERVICE_RUNNING);
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &after)) << GetLastError();
  EXPECT_TRUE(after.dwCurrentState == SERVICE_STOP_PENDING || after.dwCurrentState == SERVICE_STOPPED);
  ASSERT_TRUE(WaitForServiceState("Worker", SERVICE_STOPPED));
  EXPECT_EQ(TestServiceStatus("Worker").dwWin32ExitCode, 0u);
  EXPECT_EQ(TestServiceStatus("Worker").dwProcessId, 0u);
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &after));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(after.dwCurrentState, SERVICE_STOPPED);
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, &after));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_NOT_ACTIVE));
  // It starts again.
  ASSERT_TRUE(StartService(service, 0, nullptr));
  ASSERT_TRUE(WaitForServiceState("Worker", SERVICE_RUNNING));
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, &after));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SERVICE_CONTROL));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

// A program that reports start-pending stays so until it reports running;
// one that reports nothing is start-pending for the initial wait hint.
TEST_F(Services, PendingStartsLastAsLongAsTheProgramSays) {
  ASSERT_EQ(InstallTestService("Slow", "--start-delay 2600"), 0u);
  ASSERT_EQ(InstallTestService("Silent", "--silent"), 0u);
  auto started = Clock::now();
  ASSERT_EQ(StartTestService("Slow"), 0u);
  ASSERT_EQ(StartTestService("Silent"), 0u);
  SERVICE_STATUS_PROCESS silent = TestServiceStatus("Silent");
  EXPECT_EQ(silent.dwCurrentState, SERVICE_START_PENDING);
  EXPECT_EQ(silent.dwWaitHint, 2000u);
  EXPECT_EQ(StopTestService("Silent"), DWORD(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  // Its report arrives at once.
  EXPECT_TRUE(Eventually([] { return TestServiceStatus("Slow").dwCheckPoint == 1; }, 1500ms));
  SERVICE_STATUS_PROCESS slow = TestServiceStatus("Slow");
  EXPECT_EQ(slow.dwCurrentState, SERVICE_START_PENDING);
  EXPECT_EQ(slow.dwWaitHint, 3600u);
  EXPECT_EQ(slow.dwCheckPoint, 1u);

  ASSERT_TRUE(WaitForServiceState("Silent", SERVICE_RUNNING));
  EXPECT_GE(Clock::now() - started, 1900ms);
  EXPECT_EQ(TestServiceState("Slow"), SERVICE_START_PENDING);  // past the initial hint, still pending
  ASSERT_TRUE(WaitForServiceState("Slow", SERVICE_RUNNING));
  EXPECT_GE(Clock::now() - started, 2500ms);
}

TEST_F(Services, AProgramThatEndsOrIgnoresTheStopIsSeenAsItIs) {
  ASSERT_EQ(InstallTestService("Quitter", "--exit 3"), 0u);
  ASSERT_EQ(StartTestService("Quitter"), 0u);
  ASSERT_TRUE(WaitForServiceState("Quitter", SERVICE_STOPPED));
  EXPECT_EQ(TestServiceStatus("Quitter").dwWin32ExitCode, DWORD(ERROR_PROCESS_ABORTED));

  ASSERT_EQ(InstallTestService("Stubborn", "--ignore-stop"), 0u);
  ASSERT_EQ(StartTestService("Stubborn"), 0u);
  ASSERT_TRUE(WaitForServiceState("Stubborn", SERVICE_RUNNING));
  ASSERT_EQ(StopTestService("Stubborn"), 0u);
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(TestServiceState("Stubborn"), SERVICE_STOP_PENDING);
  EXPECT_EQ(StopTestService("Stubborn"), DWORD(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  KillTestService("Stubborn");
  ASSERT_TRUE(WaitForServiceState("Stubborn", SERVICE_STOPPED));
  EXPECT_EQ(TestServiceStatus("Stubborn").dwWin32ExitCode, 0u);  // it was asked to stop

  ASSERT_EQ(InstallTestService("Lingering", "--stop-delay 600"), 0u);
  ASSERT_EQ(StartTestService("Lingering"), 0u);
  ASSERT_TRUE(WaitForServiceState("Lingering", SERVICE_RUNNING));
  ASSERT_EQ(StopTestService("Lingering"), 0u);
  EXPECT_EQ(TestServiceState("Lingering"), SERVICE_STOP_PENDING);
  EXPECT_TRUE(WaitForServiceState("Lingering", SERVICE_STOPPED));
}

// The service is known by its process's identity: a process that has
// the recorded ID but is another is not the service, and gets no signal.
TEST_F(Services, AReusedProcessIdIsNotTheService) {
  ASSERT_EQ(InstallTestService("Ghost"), 0u);
  std::unique_ptr<ServiceRecord> record;
  ASSERT_EQ(ServiceRecord::Open("Ghost", record), ERROR_SUCCESS);
  ServiceRecord::Process process;
  process.pid = DWORD(getpid());
  process.identity = ProcessIdentity(getpid()) + "0";
  process.reportedState = SERVICE_RUNNING;
  ASSERT_EQ(record->WriteProcess(process), ERROR_SUCCESS);
  EXPECT_EQ(TestServiceState("Ghost"), SERVICE_STOPPED);
  EXPECT_EQ(StopTestService("Ghost"), DWORD(ERROR_SERVICE_NOT_ACTIVE));
  // The same ID with its real identity is the service (this process, which
  // the test does not stop).
  process.identity = ProcessIdentity(getpid());
  ASSERT_EQ(record->WriteProcess(process), ERROR_SUCCESS);
  EXPECT_EQ(TestServiceState("Ghost"), SERVICE_RUNNING);
  EXPECT_EQ(TestServiceStatus("Ghost").dwProcessId, DWORD(getpid()));
  ASSERT_EQ(record->ClearProcess(), ERROR_SUCCESS);
}

TEST_F(Services, AProgramThatCannotRunFailsTheStart) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  ASSERT_EQ(InstallTestService("Missing"), 0u);
  ASSERT_EQ(WithService("Missing", SERVICE_CHANGE_CONFIG, [](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         "/nonexistent/program", nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr);
            }),
            0u);
  EXPECT_EQ(StartTestService("Missing"), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(TestServiceState("Missing"), SERVICE_STOPPED);
  EXPECT_EQ(TestServiceProcess("Missing").pid, 0u);

  const std::string text = dir + "/notes.txt";
  std::ofstream(text) << "not a program\n";
  ASSERT_EQ(WithService("Missing", SERVICE_CHANGE_CONFIG, [&](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, text.c_str(),
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
            }),
            0u);
  EXPECT_EQ(StartTestService("Missing"), DWORD(ERROR_SERVICE_DISABLED));
  ASSERT_EQ(WithService("Missing", SERVICE_CHANGE_CONFIG, [&](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
            }),
            0u);
  EXPECT_EQ(StartTestService("Missing"), DWORD(ERROR_ACCESS_DENIED));  // not executable
  EXPECT_EQ(TestServiceProcess("Missing").pid, 0u);
}

TEST_F(Services, ChangeConfigTouchesOnlyWhatItIsGiven) {
  ASSERT_EQ(InstallTestService("Config", "", SERVICE_AUTO_START), 0u);
  const std::string key = kServices + "Config";
  const std::string path = Text(key, "ImagePath");
  ASSERT_EQ(WithService("Config", SERVICE_CHANGE_CONFIG, [](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, "Configured");
            }),
            0u);
  EXPECT_EQ(Dword(key, "Start"), SERVICE_DEMAND_START);
  EXPECT_EQ(Text(key, "DisplayName"), "Configured");
  EXPECT_EQ(Dword(key, "Type"), SERVICE_WIN32_OWN_PROCESS);
  EXPECT_EQ(Dword(key, "ErrorControl"), SERVICE_ERROR_NORMAL);
  EXPECT_EQ(Text(key, "ImagePath"), path);
  EXPECT_EQ(Text(key, "ObjectName"), "LocalSystem");
  EXPECT_EQ(ValueNames(key).size(), 6u);
  DWORD tag = 0;
  EXPECT_EQ(WithService("Config", SERVICE_CHANGE_CONFIG, [&](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                         nullptr, &tag, nullptr, nullptr, nullptr, nullptr);
            }),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WithService("Config", SERVICE_CHANGE_CONFIG, [](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, 9, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr);
            }),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Dword(key, "Start"), SERVICE_DEMAND_START);
}

TEST_F(Services, DeleteWaitsForTheProcessToEnd) {
  ASSERT_EQ(InstallTestService("Idle"), 0u);
  EXPECT_EQ(WithService("Idle", SERVICE_DELETE, [](SC_HANDLE s) { return DeleteService(s); }), 0u);
  EXPECT_FALSE(KeyExists(kServices + "Idle"));

  ASSERT_EQ(InstallTestService("Busy", "--ignore-stop"), 0u);
  ASSERT_EQ(StartTestService("Busy"), 0u);
  ASSERT_TRUE(WaitForServiceState("Busy", SERVICE_RUNNING));
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenService(manager, "Busy", SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  EXPECT_TRUE(DeleteService(service));
  EXPECT_EQ(Dword(kServices + "Busy", "DeleteFlag"), 1u);
  EXPECT_FALSE(DeleteService(service));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_EQ(InstallTestService("Busy"), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_EQ(StartTestService("Busy"), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  EXPECT_EQ(TestServiceState("Busy"), SERVICE_RUNNING);

  KillTestService("Busy");
  ASSERT_TRUE(WaitForServiceState("Busy", 0));  // gone: it can no longer be opened
  EXPECT_FALSE(KeyExists(kServices + "Busy"));
  // The handle still open reads a stopped service.
  SERVICE_STATUS status;
  EXPECT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_FALSE(StartService(service, 0, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(service);
  // The name is free again.
  EXPECT_EQ(InstallTestService("Busy"), 0u);
  CloseServiceHandle(manager);
}

TEST_F(Services, EnumerationListsServicesByState) {
  ASSERT_EQ(InstallTestService("Beta"), 0u);
  ASSERT_EQ(InstallTestService("Alpha"), 0u);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kServices + "NotAService", "Other", 1), ERROR_SUCCESS);
  ASSERT_EQ(StartTestService("Beta"), 0u);
  ASSERT_TRUE(WaitForServiceState("Beta", SERVICE_RUNNING));
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  std::vector<ENUM_SERVICE_STATUS_PROCESS> services;
  ASSERT_TRUE(EnumServicesStatusEx(manager, SERVICE_WIN32, SERVICE_STATE_ALL, services));
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].serviceName, "Alpha");
  EXPECT_EQ(services[0].status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(services[1].serviceName, "Beta");
  EXPECT_EQ(services[1].displayName, "Beta");
  EXPECT_EQ(services[1].status.dwProcessId, TestServiceStatus("Beta").dwProcessId);
  ASSERT_TRUE(EnumServicesStatusEx(manager, SERVICE_WIN32, SERVICE_ACTIVE, services));
  ASSERT_EQ(services.size(), 1u);
  EXPECT_EQ(services[0].serviceName, "Beta");
  ASSERT_TRUE(EnumServicesStatusEx(manager, SERVICE_WIN32_SHARE_PROCESS, SERVICE_STATE_ALL, services));
  EXPECT_TRUE(services.empty());
  EXPECT_FALSE(EnumServicesStatusEx(manager, SERVICE_WIN32, 0, services));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  CloseServiceHandle(manager);
  manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_CONNECT);
  EXPECT_FALSE(EnumServicesStatusEx(manager, SERVICE_WIN32, SERVICE_STATE_ALL, services));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  CloseServiceHandle(manager);
}

// Two starters at once: the database lock lets exactly one start it.
TEST_F(Services, ConcurrentStartsStartOneProcess) {
  ASSERT_EQ(InstallTestService("Race"), 0u);
  DWORD results[4];
  std::vector<std::thread> starters;
  for (DWORD& result : results) starters.emplace_back([&result] { result = StartTestService("Race"); });
  for (std::thread& t : starters) t.join();
  int started = 0;
  for (DWORD result : results) {
    EXPECT_TRUE(result == 0 || result == DWORD(ERROR_SERVICE_ALREADY_RUNNING)) << result;
    started += result == 0;
  }
  EXPECT_EQ(started, 1);
}

TEST_F(Services, OnlyTheServiceItselfReportsItsStatus) {
  unsetenv("AE_SERVICE_NAME");
  EXPECT_FALSE(ReportServiceStatus(SERVICE_RUNNING, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
  ASSERT_EQ(InstallTestService("Pretender"), 0u);
  setenv("AE_SERVICE_NAME", "Pretender", 1);
  EXPECT_FALSE(ReportServiceStatus(SERVICE_RUNNING, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
  EXPECT_FALSE(ReportServiceStatus(SERVICE_STOPPED, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  unsetenv("AE_SERVICE_NAME");
}

TEST(ServiceCommandLine, SplitsLikeTheServiceManager) {
  EXPECT_EQ(ServiceCommandLine("/opt/a/run -x  \"b c\" d"),
            (std::vector<std::string>{"/opt/a/run", "-x", "b c", "d"}));
  EXPECT_EQ(ServiceCommandLine("\"/opt/with space/run\" -y"),
            (std::vector<std::string>{"/opt/with space/run", "-y"}));
  EXPECT_TRUE(ServiceCommandLine("   ").empty());
  // A path with blanks that names a file is the program, unquoted.
  const std::string spaced = std::filesystem::temp_directory_path().string() + "/Program Files/run me";
  std::filesystem::create_directories(std::filesystem::path(spaced).parent_path());
  std::ofstream(spaced) << "";
  EXPECT_EQ(ServiceCommandLine(spaced), std::vector<std::string>{spaced});
  setenv("AE_TEST_ROOT", "/srv", 1);
  EXPECT_EQ(ServiceCommandLine("%AE_TEST_ROOT%/run %AE_NOT_SET_ANYWHERE% 100%"),
            (std::vector<std::string>{"/srv/run", "%AE_NOT_SET_ANYWHERE%", "100%"}));
}

}  // namespace
