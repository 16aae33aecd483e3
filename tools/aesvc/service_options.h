// The settings of aesvc's create and config commands, written as sc.exe
// writes them: "binPath= PATH", "start= demand" (the option's name ends in
// "=", its value is the next argument; "start=demand" in one argument
// works too), names in any case.
//
// Contract: ParseServiceOptions fills `out` from the arguments or returns
// false with the reason in `error`. What is not given stays
// SERVICE_NO_CHANGE or unset. Any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

struct ServiceOptions {
  DWORD type = SERVICE_NO_CHANGE;
  DWORD start = SERVICE_NO_CHANGE;
  DWORD errorControl = SERVICE_NO_CHANGE;
  std::optional<std::string> binaryPath;
  std::optional<std::string> group;
  std::optional<std::string> dependencies;  // names each ended by a NUL, the list by another
  std::optional<std::string> account;
  std::optional<std::string> password;
  std::optional<std::string> displayName;

  static const char* Text(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }
};

bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& out, std::string& error);
