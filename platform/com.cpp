#include "platform/com.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string GuidToString(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits from text at pos.
bool ReadHex(const std::string& text, size_t& pos, int digits, uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i, ++pos) {
    int d = pos < text.size() ? HexDigit(text[pos]) : -1;
    if (d < 0) return false;
    out = (out << 4) | uint64_t(d);
  }
  return true;
}

bool Expect(const std::string& text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

bool GuidFromString(const std::string& text, GUID& guid) {
  bool braced = !text.empty() && text.front() == '{';
  if (text.size() != (braced ? 38u : 36u)) return false;
  size_t pos = braced ? 1 : 0;
  GUID g;
  uint64_t v;
  if (!ReadHex(text, pos, 8, v) || !Expect(text, pos, '-')) return false;
  g.Data1 = uint32_t(v);
  if (!ReadHex(text, pos, 4, v) || !Expect(text, pos, '-')) return false;
  g.Data2 = uint16_t(v);
  if (!ReadHex(text, pos, 4, v) || !Expect(text, pos, '-')) return false;
  g.Data3 = uint16_t(v);
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, pos, '-')) return false;
    if (!ReadHex(text, pos, 2, v)) return false;
    g.Data4[i] = uint8_t(v);
  }
  if (braced && !Expect(text, pos, '}')) return false;
  guid = g;
  return true;
}

void* CoTaskMemAlloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

void CoTaskMemFree(void* p) { std::free(p); }

char* CoTaskMemStrDup(const std::string& text) {
  char* copy = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}
