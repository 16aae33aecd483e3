// Test helper: runs a command line through the shell and returns its exit
// code (-1 when it did not exit normally); stdout and stderr pass through.
#pragma once

#include <string>

int RunProgram(const std::string& commandLine);
// Text quoted for the shell.
std::string ShellQuote(const std::string& text);
