// The D-Bus activation file of the server: with it the bus starts the
// program on a client's first call to its name, as COM starts a local
// server.
//
// Contract: Write creates $XDG_DATA_HOME/dbus-1/services/<bus name>.service
// (XDG_DATA_HOME defaulting to ~/.local/share; folders created) naming the
// bus name and the program's absolute path; Remove deletes it (a missing
// file is no error). Both answer false with *error set when the file system
// refuses. Thread-safe; no bus needed.
#pragma once

#include <string>

class CAEDBusServiceFile {
 public:
  static std::string PathFor(const std::string& busName);
  static bool Write(const std::string& busName, const std::string& program, std::string* error);
  static bool Remove(const std::string& busName, std::string* error);
};
