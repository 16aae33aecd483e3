// libsvcctl through dlopen: whether a program runs, and stopping and
// starting real service processes, with the trace lines they leave.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "installer_library.h"
#include "platform/processes.h"
#include "setup/svcctl/svcctl.h"
#include "tests/support/eventually.h"
#include "tests/support/service_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Svcctl : public ServiceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.Loaded()) << dlerror();
    isRunning_ = library_.Export<decltype(bkIsRunning)>("bkIsRunning");
    stopStart_ = library_.Export<decltype(bkStopStartService)>("bkStopStartService");
    ASSERT_NE(isRunning_, nullptr);
    ASSERT_NE(stopStart_, nullptr);
  }
  void TearDown() override {
    for (pid_t child : children_) kill(child, SIGKILL);
    for (pid_t child : children_) waitpid(child, nullptr, 0);
    ServiceTest::TearDown();
  }

  // A process of ours that waits; it runs `sleep` (a copy named
  // `program`) when given.
  pid_t Spawn(const std::string& program = "") {
    pid_t child = fork();
    if (child == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (!program.empty()) execl(program.c_str(), program.c_str(), "60", nullptr);
      for (;;) pause();
    }
    children_.push_back(child);
    return child;
  }

  InstallerLibrary library_{SVCCTL_LIBRARY};
  decltype(bkIsRunning)* isRunning_ = nullptr;
  decltype(bkStopStartService)* stopStart_ = nullptr;
  RawDebugCapture trace_;
  std::vector<pid_t> children_;
};

TEST_F(Svcctl, IsRunningWithoutABoolSaysSoAndNothingElse) {
  EXPECT_EQ(isRunning_("sh", nullptr), 160u);
  EXPECT_EQ(trace_.Texts(), std::vector<std::string>{"bkIsRunning - Invalid pointer to a BOOL"});
}

// The whole process list is read (it grows 400 bytes at a time) and the
// program name is compared in any case.
TEST_F(Svcctl, IsRunningFindsAProgramPastTheFirstHundredInAnyCase) {
  for (int i = 0; i < 150; ++i) Spawn();
  const std::string probe = std::filesystem::temp_directory_path().string() + "/probe-" + std::to_string(getpid()) + ".bin";
  std::filesystem::copy_file("/bin/sleep", probe);
  pid_t target = Spawn(probe);
  // Running its program, and listed past the first hundred.
  ASSERT_TRUE(Eventually([&] {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, false, DWORD(target));
    if (!h) return false;
    char name[MAX_PATH] = "";
    GetModuleBaseName(h, nullptr, name, MAX_PATH);
    CloseHandle(h);
    return std::string(name) == std::filesystem::path(probe).filename().string();
  }));
  std::vector<DWORD> ids(4096);
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcesses(ids.data(), DWORD(ids.size() * 4), &bytes));
  auto at = std::find(ids.begin(), ids.begin() + bytes / 4, DWORD(target));
  ASSERT_GE(at - ids.begin(), 100);

  std::string upper = "PROBE-" + std::to_string(getpid()) + ".BIN";
  int32_t running = -1;
  EXPECT_EQ(isRunning_(upper.c_str(), &running), 0u);
  EXPECT_EQ(running, 1);
  EXPECT_EQ(trace_.Texts(), (std::vector<std::string>{"bkIsRunning('" + upper + "')\n",
                                                      "bkIsRunning('" + upper + "') result: 1\n"}));
  running = -1;
  EXPECT_EQ(isRunning_("no-such-program.bin", &running), 0u);
  EXPECT_EQ(running, 0);
}

TEST_F(Svcctl, ATraceLineIsCutToItsBuffer) {
  const std::string longName(400, 'x');
  int32_t running = -1;
  EXPECT_EQ(isRunning_(longName.c_str(), &running), 0u);
  std::vector<std::string> texts = trace_.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "bkIsRunning('" + longName.substr(0, 258 - 13) + "\n");
  EXPECT_EQ(texts[1].size(), 259u);
  trace_.Clear();
  EXPECT_EQ(stopStart_(longName.c_str(), 1, 0, 0), DWORD(ERROR_INVALID_NAME));
  texts = trace_.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].size(), 259u);
  EXPECT_EQ(texts[1], "bkStopStartService - OpenService failed. Error:123\n");
}

TEST_F(Svcctl, StartOfARunningServiceWithoutWaitIssuesNoStart) {
  const std::string log = std::filesystem::temp_directory_path().string() + "/starts.log";
  ASSERT_EQ(InstallTestService("Pump", "--log " + log), 0u);
  EXPECT_EQ(stopStart_("Pump", 1, 0, 0), 0u);
  EXPECT_EQ(trace_.Texts(), std::vector<std::string>{"bkStopStartService('Pump', 1, 0, 0)\n"});
  ASSERT_TRUE(WaitForServiceState("Pump", SERVICE_RUNNING));
  DWORD pid = TestServiceStatus("Pump").dwProcessId;

  trace_.Clear();
  EXPECT_EQ(stopStart_("PUMP", 1, 0, 0), 0u);
  EXPECT_EQ(trace_.Texts(), std::vector<std::string>{"bkStopStartService('PUMP', 1, 0, 0)\n"});
  EXPECT_EQ(TestServiceStatus("Pump").dwProcessId, pid);
  std::ifstream in(log);
  int starts = 0;
  for (std::string line; std::getline(in, line);) ++starts;
  EXPECT_EQ(starts, 1);
}

// Time-out 0: as long as the service is pending.
TEST_F(Svcctl, StartWaitsForASlowStartWithoutLimit) {
  ASSERT_EQ(InstallTestService("Slow", "--start-delay 2500"), 0u);
  auto begin = Clock::now();
  EXPECT_EQ(stopStart_("Slow", 1, 1, 0), 0u);
  EXPECT_GE(Clock::now() - begin, 2400ms);
  EXPECT_EQ(TestServiceState("Slow"), SERVICE_RUNNING);
  EXPECT_EQ(trace_.Texts(), std::vector<std::string>{"bkStopStartService('Slow', 1, 1, 0)\n"});
  // A stop that takes a while is waited for as well.
  ASSERT_EQ(InstallTestService("Lingering", "--stop-delay 1500"), 0u);
  ASSERT_EQ(StartTestService("Lingering"), 0u);
  ASSERT_TRUE(WaitForServiceState("Lingering", SERVICE_RUNNING));
  begin = Clock::now();
  EXPECT_EQ(stopStart_("Lingering", 0, 1, 0), 0u);
  EXPECT_GE(Clock::now() - begin, 1400ms);
  EXPECT_EQ(TestServiceState("Lingering"), SERVICE_STOPPED);
  // Stopping what is stopped asks nothing of it.
  trace_.Clear();
  EXPECT_EQ(stopStart_("Lingering", 0, 1, 5000), 0u);
  EXPECT_EQ(trace_.Texts(), std::vector<std::string>{"bkStopStartService('Lingering', 0, 1, 5000)\n"});
}

TEST_F(Svcctl, AServiceThatStaysStopPendingTimesOut) {
  ASSERT_EQ(InstallTestService("Stubborn", "--ignore-stop"), 0u);
  ASSERT_EQ(StartTestService("Stubborn"), 0u);
  ASSERT_TRUE(WaitForServiceState("Stubborn", SERVICE_RUNNING));
  auto begin = Clock::now();
  EXPECT_EQ(stopStart_("Stubborn", 0, 1, 5000), DWORD(ERROR_SERVICE_REQUEST_TIMEOUT));
  auto took = Clock::now() - begin;
  EXPECT_GE(took, 5000ms);
  EXPECT_LE(took, 6500ms);
  EXPECT_EQ(trace_.Texts(), (std::vector<std::string>{
                                "bkStopStartService('Stubborn', 0, 1, 5000)\n",
                                "bkStopStartService - Timed out while waiting for service to stop/start",
                                "bkStopStartService - Service was not stopped. Error:1053\n"}));
  EXPECT_EQ(TestServiceState("Stubborn"), SERVICE_STOP_PENDING);
}

TEST_F(Svcctl, FailuresAreTracedAndReturned) {
  EXPECT_EQ(stopStart_("Absent", 1, 1, 0), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(trace_.Texts(), (std::vector<std::string>{"bkStopStartService('Absent', 1, 1, 0)\n",
                                                      "bkStopStartService - OpenService failed. Error:1060\n"}));
  ASSERT_EQ(InstallTestService("Quitter", "--exit 0"), 0u);
  trace_.Clear();
  EXPECT_EQ(stopStart_("Quitter", 1, 1, 0), DWORD(ERROR_SERVICE_REQUEST_TIMEOUT));
  EXPECT_EQ(trace_.Texts().back(), "bkStopStartService - Service was not started. Error:1053\n");

  ASSERT_EQ(WithService("Quitter", SERVICE_CHANGE_CONFIG, [](SC_HANDLE s) {
              return ChangeServiceConfig(s, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, "/no/such/runtime",
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
            }),
            0u);
  trace_.Clear();
  EXPECT_EQ(stopStart_("Quitter", 1, 0, 0), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(trace_.Texts().back(), "bkStopStartService - StartService failed. Error:2\n");

  // A plain program is start-pending for a moment and takes no stop then.
  ASSERT_EQ(InstallTestService("Silent", "--silent"), 0u);
  ASSERT_EQ(StartTestService("Silent"), 0u);
  trace_.Clear();
  EXPECT_EQ(stopStart_("Silent", 0, 0, 0), DWORD(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
  EXPECT_EQ(trace_.Texts().back(), "bkStopStartService - ControlService failed. Error:1061\n");
}

}  // namespace
