// The registration switches of the command line: tokens separated by '-',
// '/' or blanks; "RegServer" and "UnregServer" match without regard to case
// and the first one found wins. Other tokens are not this function's.
#pragma once

#include <string>

enum class RegistrationSwitch { None, RegServer, UnregServer };

RegistrationSwitch FindRegistrationSwitch(const std::string& commandLine);
