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

// The absolute path of the program or shared library that holds `address`
// (a function or object of it); empty when it cannot be told. In-process
// servers name themselves with it when they register.
std::string GetModulePath(const void* address);
