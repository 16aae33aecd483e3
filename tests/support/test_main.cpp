// Test main: every test process gets a private, empty environment of its own
// (registry store, XDG folders, temporary folder), removed when it ends.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace {

std::string MakeSandbox() {
  std::string base = std::filesystem::temp_directory_path().string() + "/aetest.XXXXXX";
  if (!mkdtemp(base.data())) return {};
  return base;
}

void Use(const std::string& root, const char* var, const char* sub) {
  std::string dir = root + "/" + sub;
  std::filesystem::create_directories(dir);
  chmod(dir.c_str(), 0700);
  setenv(var, dir.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sandbox = MakeSandbox();
  if (!sandbox.empty()) {
    Use(sandbox, "AE_REGISTRY_DIR", "registry");
    Use(sandbox, "XDG_DATA_HOME", "data");
    Use(sandbox, "XDG_RUNTIME_DIR", "runtime");
    Use(sandbox, "TMPDIR", "tmp");
  }
  // Nothing reaches the user's own session bus; tests that need a bus
  // start one of their own (private_bus.h).
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  if (!sandbox.empty() && !getenv("AE_KEEP_TEST_DIR")) {
    std::error_code ec;
    std::filesystem::remove_all(sandbox, ec);
  }
  return rc;
}
