#include "platform/format_text.h"

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> arguments) {
  std::string out;
  out.reserve(text.size());
  size_t done = 0;
  for (size_t at = text.find('%'); at != std::string_view::npos && at + 1 < text.size(); at = text.find('%', at + 1)) {
    char digit = text[at + 1];
    if (digit < '1' || digit > '9' || size_t(digit - '1') >= arguments.size()) continue;
    out.append(text, done, at - done).append(arguments.begin()[digit - '1']);
    done = at + 2;
    ++at;
  }
  return out.append(text, done);
}
