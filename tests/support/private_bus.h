// CPrivateBus: a session bus of the test's own. Start runs a dbus-daemon
// listening in $XDG_RUNTIME_DIR whose activation folder is
// $XDG_DATA_HOME/dbus-1/services (where RegServer writes), and sets
// DBUS_SESSION_BUS_ADDRESS for the test and what it starts.
//
// Contract: Start answers false, with the reason in *error, when the daemon
// does not start. The destructor kills what the bus started (activated
// servers) and then the daemon. One per test process; single-threaded.
#pragma once

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

class CPrivateBus {
 public:
  CPrivateBus() = default;
  CPrivateBus(const CPrivateBus&) = delete;
  CPrivateBus& operator=(const CPrivateBus&) = delete;

  bool Start(std::string* error) {
    std::string data = std::getenv("XDG_DATA_HOME");
    std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    std::ofstream(runtime + "/bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir=" << runtime << "</listen>"
        << "<servicedir>" << data << "/dbus-1/services</servicedir>"
        << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    FILE* daemon = popen(("dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" + runtime + "/bus.conf")
                             .c_str(), "r");
    if (!daemon) return Fail(error, "dbus-daemon does not run");
    char address[512] = {}, pid[32] = {};
    bool read = fgets(address, sizeof address, daemon) && fgets(pid, sizeof pid, daemon);
    pclose(daemon);
    if (!read) return Fail(error, "dbus-daemon printed no address");
    std::string a = address;
    a.erase(a.find_last_not_of("\n") + 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    pid_ = std::atoi(pid);
    return true;
  }

  ~CPrivateBus() {
    if (pid_ <= 0) return;
    // The servers that the bus started go with it.
    std::string task = "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children";
    std::ifstream children(task);
    for (pid_t child; children >> child;) kill(child, SIGKILL);
    kill(pid_, SIGTERM);
  }

 private:
  static bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
  }

  pid_t pid_ = -1;
};
