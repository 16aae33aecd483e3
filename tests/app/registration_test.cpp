// The program as a process: the registration switches and what they leave
// in the registry store, and the silent end without the resource library.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/registration_switch.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "server/server_core.h"

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
  int exitCode = -1;
  std::string output;
};

// Runs `program` with `arguments` and no display; its output, and its exit code.
ProgramRun RunProgram(const std::string& program, const std::string& arguments) {
  std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen timeout 20 '" + program +
                        "' " + arguments + " 2>&1";
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Default(const std::string& key) {
  std::string value;
  return RegGetString(HKEY_CLASSES_ROOT, key, "", value) == ERROR_SUCCESS ? value : "<missing>";
}

bool KeyExists(const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

TEST(RegistrationSwitchTest, FirstSwitchWinsWhateverItsCase) {
  EXPECT_EQ(FindRegistrationSwitch("-regserver"), RegistrationSwitch::RegServer);
  EXPECT_EQ(FindRegistrationSwitch("/UNREGSERVER"), RegistrationSwitch::UnregServer);
  EXPECT_EQ(FindRegistrationSwitch("-Embedding /UnregServer -RegServer"), RegistrationSwitch::UnregServer);
  EXPECT_EQ(FindRegistrationSwitch("RegServer/UnregServer"), RegistrationSwitch::RegServer);
  EXPECT_EQ(FindRegistrationSwitch("-RegServerX --Reg-Server"), RegistrationSwitch::None);
  EXPECT_EQ(FindRegistrationSwitch(""), RegistrationSwitch::None);
  EXPECT_EQ(FindRegistrationSwitch(" - / "), RegistrationSwitch::None);
}

TEST(RegistrationTest, RegServerWritesTheClassesAndUnregServerTakesThemAway) {
  const std::string clsid = GuidToString(kServerClsid);
  // Something else under CLSID and AppID must survive.
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}", "", "other"),
            ERROR_SUCCESS);

  ProgramRun reg = RunProgram(AESERVER_PROGRAM, "-regserver");
  EXPECT_EQ(reg.exitCode, 0) << reg.output;
  EXPECT_EQ(Default("Corvane.OPCAEqrxServer.1"), "Veltrocorp Corvane Plantwise - OPC AE Server");
  EXPECT_EQ(Default("Corvane.OPCAEqrxServer.1\\CLSID"), clsid);
  EXPECT_EQ(Default("Corvane.OPCAEqrxServer\\CLSID"), clsid);
  EXPECT_EQ(Default("CLSID\\" + clsid), "Veltrocorp Corvane Plantwise - OPC AE Server");
  EXPECT_EQ(Default("CLSID\\" + clsid + "\\ProgID"), "Corvane.OPCAEqrxServer.1");
  EXPECT_EQ(Default("CLSID\\" + clsid + "\\VersionIndependentProgID"), "Corvane.OPCAEqrxServer");
  EXPECT_EQ(Default("CLSID\\" + clsid + "\\LocalServer32"), fs::canonical(AESERVER_PROGRAM).string());
  EXPECT_TRUE(KeyExists("CLSID\\" + clsid + "\\Implemented Categories"));
  std::string value;
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "CLSID\\" + clsid, "AppId", value), ERROR_SUCCESS);
  EXPECT_EQ(value, clsid);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "AppID\\" + clsid, "RunAs", value), ERROR_SUCCESS);
  EXPECT_EQ(value, "Interactive User");

  // The first switch wins: this only unregisters.
  ProgramRun unreg = RunProgram(AESERVER_PROGRAM, "/UnregServer -RegServer");
  EXPECT_EQ(unreg.exitCode, 0) << unreg.output;
  EXPECT_FALSE(KeyExists("Corvane.OPCAEqrxServer.1"));
  EXPECT_FALSE(KeyExists("Corvane.OPCAEqrxServer"));
  EXPECT_FALSE(KeyExists("CLSID\\" + clsid));
  EXPECT_FALSE(KeyExists("AppID\\" + clsid));
  EXPECT_TRUE(KeyExists("CLSID\\{00000000-0000-0000-0000-000000000001}"));
}

TEST(RegistrationTest, WithoutItsResourceLibraryTheProgramEndsSilently) {
  const fs::path alone = fs::temp_directory_path() / "alone";
  fs::create_directories(alone);
  fs::copy_file(AESERVER_PROGRAM, alone / "aeserver");
  // Its libraries are found from the build folder; only the resource
  // library is missing beside it.
  setenv("LD_LIBRARY_PATH", fs::path(AESERVER_PROGRAM).parent_path().c_str(), 1);
  ProgramRun run = RunProgram((alone / "aeserver").string(), "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output, "");
  // Nothing was started: not even the toolkit's registration ran.
  ProgramRun reg = RunProgram((alone / "aeserver").string(), "-RegServer");
  EXPECT_FALSE(KeyExists("Corvane.OPCAEqrxServer.1"));
}

}  // namespace
