#include "platform/sysinfo.h"

#include <limits.h>
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
