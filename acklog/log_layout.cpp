#include "acklog/log_layout.h"

namespace {

constexpr std::string_view kRecordStart = "<AlarmRecord>";
constexpr std::string_view kRecordEnd = "</AlarmRecord>\n";
static_assert(kRecordStart.size() == kLogTail.size(), "the mixed prefix rule below needs equal lengths");

// What a write cut short after `j` bytes leaves after the intact records:
// the first j bytes of "<AlarmRecord>...</AlarmRecord>\n</AlarmFile>\n",
// over the old kLogTail when appending, alone when creating the file. Text
// inside a record never holds a raw "<" (the serialiser escapes it), so
// "</AlarmRecord>\n" only ever ends a complete record.
bool IsCutShortTail(std::string_view tail) {
  auto isPrefixOf = [&](std::string_view whole) {
    return tail.size() < whole.size() && whole.substr(0, tail.size()) == tail;
  };
  if (isPrefixOf(kLogTail) || isPrefixOf(kRecordStart)) return true;
  if (tail.size() == kLogTail.size()) {
    for (size_t j = 1; j < kLogTail.size(); ++j)
      if (tail.substr(0, j) == kRecordStart.substr(0, j) && tail.substr(j) == kLogTail.substr(j))
        return true;
  }
  return tail.substr(0, kRecordStart.size()) == kRecordStart && tail.find(kRecordEnd) == std::string_view::npos;
}

}  // namespace

bool FindInterruptedWrite(std::string_view bytes, size_t& keep) {
  if (bytes.size() < kLogHead.size() && kLogHead.substr(0, bytes.size()) == bytes) {
    keep = 0;
    return true;
  }
  if (bytes.substr(0, kLogHead.size()) != kLogHead) return false;
  size_t cut = bytes.rfind(kRecordEnd);
  cut = cut == std::string_view::npos || cut < kLogHead.size() ? kLogHead.size() : cut + kRecordEnd.size();
  // Layout line feeds left between records belong to the intact part.
  while (cut < bytes.size() && bytes[cut] == '\n') ++cut;
  if (!IsCutShortTail(bytes.substr(cut))) return false;
  keep = cut;
  return true;
}
