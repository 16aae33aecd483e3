// The libraries export exactly their entry points and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "installer_library.h"

namespace {

// The defined dynamic symbols of a shared library, as nm lists them.
std::set<std::string> DynamicSymbols(const std::string& library) {
  std::set<std::string> symbols;
  FILE* nm = popen(("nm -D --defined-only --format=posix '" + library + "'").c_str(), "r");
  if (!nm) return symbols;
  char line[1024];
  while (fgets(line, sizeof line, nm)) {
    std::string text = line;
    symbols.insert(text.substr(0, text.find(' ')));
  }
  pclose(nm);
  return symbols;
}

TEST(Exports, EachLibraryExportsItsEntryPointsAlone) {
  EXPECT_EQ(DynamicSymbols(SVCCTL_LIBRARY), (std::set<std::string>{"bkIsRunning", "bkStopStartService"}));
  const std::set<std::string> installer{"isBrannockService",   "hasAdminRights",       "addBrannockService",
                                        "startBrannockService", "stopBrannockService",  "removeBrannockService",
                                        "cleanUpCalderINI",     "replaceFileAtReboot"};
  EXPECT_EQ(DynamicSymbols(RTSVCSETUP_LIBRARY), installer);
  for (const char* library : {SVCCTL_LIBRARY, RTSVCSETUP_LIBRARY}) {
    InstallerLibrary loaded(library);
    EXPECT_TRUE(loaded.Loaded()) << dlerror();
  }
}

}  // namespace
