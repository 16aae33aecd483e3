// aesvc, run as a program against the test's private service database,
// with the test service program as the service.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/service_test_support.h"

namespace {

using Result = ProgramResult;

Result Aesvc(std::vector<std::string> args) { return RunProgram(AESVC_PATH, std::move(args)); }

class AesvcTool : public ServiceTest {};

// Every command in its own process: the service started by one outlives it
// and is seen running by the next, and by this process.
TEST_F(AesvcTool, ManagesAServiceFromCreateToDelete) {
  Result r = Aesvc({"create", "Pump", "binPath=", kServiceProgram + " --start-delay 300", "DisplayName=", "Feed Pump",
                    "start=", "auto", "type=", "share", "depend=", "Base/Net"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "[SC] CreateService SUCCESS\n");
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Pump";
  DWORD start = 0, type = 0;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, key, "Start", start), ERROR_SUCCESS);
  EXPECT_EQ(start, SERVICE_AUTO_START);
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, key, "Type", type), ERROR_SUCCESS);
  EXPECT_EQ(type, SERVICE_WIN32_SHARE_PROCESS);
  std::vector<std::string> depends;
  EXPECT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, key, "DependOnService", depends), ERROR_SUCCESS);
  EXPECT_EQ(depends, (std::vector<std::string>{"Base", "Net"}));

  r = Aesvc({"start", "Pump"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("SERVICE_NAME: Pump\nDISPLAY_NAME: Feed Pump\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("        TYPE               : 20  WIN32_SHARE_PROCESS\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("STATE              : 2  START_PENDING\n"), std::string::npos) << r.out;
  ASSERT_TRUE(WaitForServiceState("Pump", SERVICE_RUNNING));
  r = Aesvc({"query", "pump"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("STATE              : 4  RUNNING\n                                (STOPPABLE, NOT_PAUSABLE)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("PID                : " + std::to_string(TestServiceStatus("Pump").dwProcessId) + "\n"),
            std::string::npos);
  r = Aesvc({"start", "Pump"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "[SC] StartService FAILED 1056:\n\nAn instance of the service is already running.\n\n");

  r = Aesvc({"stop", "Pump"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(WaitForServiceState("Pump", SERVICE_STOPPED));
  r = Aesvc({"config", "Pump", "start=", "disabled", "DisplayName=Main Pump"});
  EXPECT_EQ(r.out, "[SC] ChangeServiceConfig SUCCESS\n");
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, key, "Start", start), ERROR_SUCCESS);
  EXPECT_EQ(start, SERVICE_DISABLED);
  r = Aesvc({"query"});
  EXPECT_NE(r.out.find("SERVICE_NAME: Pump\nDISPLAY_NAME: Main Pump\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("STATE              : 1  STOPPED\n"), std::string::npos);

  r = Aesvc({"delete", "Pump"});
  EXPECT_EQ(r.out, "[SC] DeleteService SUCCESS\n");
  r = Aesvc({"query", "Pump"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "[SC] OpenService FAILED 1060:\n\nThe specified service does not exist as an installed service.\n\n");
}

TEST_F(AesvcTool, BadArgumentsGetTheUsage) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"restart", "Pump"}, {"create", "Pump"}, {"create", "Pump", "binPath="},
           {"create", "Pump", "binPath=", "/bin/true", "start=", "sometimes"}, {"config", "Pump", "colour=", "red"},
           {"stop"}, {"delete", "a", "b"}}) {
    Result r = Aesvc(args);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(TestServiceState("Pump"), 0u);  // nothing was created
}

}  // namespace
