#include "run_program.h"

#include <sys/wait.h>

#include <cstdlib>

int RunProgram(const std::string& commandLine) {
  int status = std::system(commandLine.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
