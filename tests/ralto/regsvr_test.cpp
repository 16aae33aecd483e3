// regsvr: registers and unregisters in-process server libraries in the
// registry store, with regsvr32's exit codes.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "run_program.h"

namespace {

int Regsvr(const std::string& arguments) {
  return RunProgram(ShellQuote(REGSVR_PROGRAM) + " " + arguments + " >/dev/null 2>&1");
}

std::string InprocServer() {
  std::string path;
  RegGetString(HKEY_CLASSES_ROOT,
               "CLSID\\" + GuidToString(CLSID_RaltoConfigServer) + "\\InprocServer32", "", path);
  return path;
}

TEST(Regsvr, RegistersAndUnregistersALibrary) {
  std::string library = ShellQuote(RALTO_CONFIG_LIBRARY);
  ASSERT_EQ(Regsvr(library), 0);
  EXPECT_EQ(InprocServer(), std::filesystem::canonical(RALTO_CONFIG_LIBRARY).string());
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(kRaltoConfigServerProgId, &clsid), S_OK);

  EXPECT_EQ(Regsvr("/s /u " + library), 0);
  EXPECT_EQ(InprocServer(), "");
  EXPECT_EQ(CLSIDFromProgID(kRaltoConfigServerProgId, &clsid), CO_E_CLASSSTRING);
}

TEST(Regsvr, RelativeLibraryPathIsRegisteredAbsolute) {
  std::filesystem::path library = RALTO_CONFIG_LIBRARY;
  std::string command = "cd " + ShellQuote(library.parent_path().string()) + " && " +
                        ShellQuote(REGSVR_PROGRAM) + " -s " + ShellQuote(library.filename().string());
  ASSERT_EQ(RunProgram(command), 0);
  EXPECT_EQ(InprocServer(), std::filesystem::canonical(library).string());
}

TEST(Regsvr, FailuresAndMisuseHaveTheirExitCodes) {
  EXPECT_EQ(Regsvr(""), 2);
  EXPECT_EQ(Regsvr("/u"), 2);
  EXPECT_EQ(Regsvr("/x " + ShellQuote(RALTO_CONFIG_LIBRARY)), 2);
  EXPECT_EQ(Regsvr("a.so b.so"), 2);
  EXPECT_EQ(Regsvr("/nonexistent/libnothing.so"), 1);
  // A library that is no in-process server: no DllRegisterServer export.
  EXPECT_EQ(Regsvr(ShellQuote(PLATFORM_LIBRARY)), 1);
}

}  // namespace
