#include "toolkit/dbus/dbus_names.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace aedbus {

namespace {

std::string Component(const std::string& raw) {
  std::string out;
  for (char c : raw) out += std::isalnum(static_cast<unsigned char>(c)) || c == '_' ? c : '_';
  if (out.empty() || std::isdigit(static_cast<unsigned char>(out[0]))) out.insert(out.begin(), '_');
  return out;
}

}  // namespace

std::string BusNameFromProgId(const std::string& progId) {
  std::string name;
  int components = 0;
  size_t start = 0;
  while (true) {
    size_t dot = progId.find('.', start);
    if (!name.empty()) name += '.';
    name += Component(progId.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    ++components;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (components == 1) name += ".Server";
  return name;
}

std::string ErrorName(HRESULT code) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
  return std::string(kErrorPrefix) + hex;
}

HRESULT HResultFromErrorName(const std::string& name) {
  size_t prefix = std::strlen(kErrorPrefix);
  if (name.size() != prefix + 8 || name.compare(0, prefix, kErrorPrefix) != 0) return E_FAIL;
  char* end = nullptr;
  unsigned long value = std::strtoul(name.c_str() + prefix, &end, 16);
  if (!end || *end) return E_FAIL;
  return static_cast<HRESULT>(value);
}

}  // namespace aedbus
