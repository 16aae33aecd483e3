#include "fuzz/support/fuzz_sandbox.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

std::string g_sandbox;

void RemoveSandbox() {
  std::error_code ignored;
  std::filesystem::remove_all(g_sandbox, ignored);
}

void Use(const char* variable, const char* sub) {
  std::string dir = g_sandbox + "/" + sub;
  std::filesystem::create_directories(dir);
  chmod(dir.c_str(), 0700);
  setenv(variable, dir.c_str(), 1);
}

}  // namespace

std::string MakeFuzzSandbox() {
  const char* parent = getenv("AE_FUZZ_SANDBOX_DIR");
  std::string base = parent && *parent              ? parent
                     : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                     : std::filesystem::temp_directory_path().string();
  base += "/aefuzz.XXXXXX";
  if (!mkdtemp(base.data())) return {};
  g_sandbox = base;
  atexit(RemoveSandbox);
  Use("AE_REGISTRY_DIR", "registry");
  Use("XDG_DATA_HOME", "data");
  Use("XDG_RUNTIME_DIR", "runtime");
  Use("TMPDIR", "tmp");
  // Nothing reaches the user's own session bus.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  return g_sandbox;
}
