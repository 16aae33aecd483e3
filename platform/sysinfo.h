// Computer name and program location.
//
// Contract: never fail loudly; an unknown answer is the empty string. Any
// thread may call.
#pragma once

#include <string>

// This machine's host name (gethostname).
std::string GetComputerName();
// The full path of the running program (/proc/self/exe).
std::string GetProgramPath();
// The folder of the running program, with a trailing "/".
std::string GetProgramFolder();
