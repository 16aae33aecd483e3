#include "platform/sysinfo.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

std::string GetComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string GetProgramPath() {
  std::vector<char> buffer(PATH_MAX);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || size_t(n) >= buffer.size()) return {};
  return std::string(buffer.data(), size_t(n));
}

std::string GetProgramFolder() {
  std::string path = GetProgramPath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string GetModulePath(const void* address) {
  Dl_info info;
  if (dladdr(address, &info) == 0 || !info.dli_fname) return {};
  char* resolved = realpath(info.dli_fname, nullptr);
  if (!resolved) return {};
  std::string path = resolved;
  free(resolved);
  return path;
}
