#include "toolkit/dbus/dbus_service_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

std::string CAEDBusServiceFile::PathFor(const std::string& busName) {
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    data = xdg;
  } else if (const char* home = std::getenv("HOME")) {
    data = std::string(home) + "/.local/share";
  }
  return data + "/dbus-1/services/" + busName + ".service";
}

bool CAEDBusServiceFile::Write(const std::string& busName, const std::string& program, std::string* error) {
  std::filesystem::path path = PathFor(busName);
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::trunc);
  out << "[D-BUS Service]\nName=" << busName << "\nExec=" << std::filesystem::absolute(program).string() << "\n";
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path.string();
    return false;
  }
  return true;
}

bool CAEDBusServiceFile::Remove(const std::string& busName, std::string* error) {
  std::error_code ec;
  std::filesystem::remove(PathFor(busName), ec);
  if (ec) {
    if (error) *error = "cannot remove " + PathFor(busName) + ": " + ec.message();
    return false;
  }
  return true;
}
