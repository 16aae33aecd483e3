#include "app/registration_switch.h"

#include <strings.h>

RegistrationSwitch FindRegistrationSwitch(const std::string& commandLine) {
  constexpr char kDelimiters[] = "-/ ";
  size_t start = commandLine.find_first_not_of(kDelimiters);
  while (start != std::string::npos) {
    size_t end = commandLine.find_first_of(kDelimiters, start);
    std::string token = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (strcasecmp(token.c_str(), "UnregServer") == 0) return RegistrationSwitch::UnregServer;
    if (strcasecmp(token.c_str(), "RegServer") == 0) return RegistrationSwitch::RegServer;
    start = end == std::string::npos ? end : commandLine.find_first_not_of(kDelimiters, end);
  }
  return RegistrationSwitch::None;
}
