#include "alarmconfig/area_path.h"

#include <algorithm>

std::string NormalizeAreaPath(std::string text) {
  std::replace(text.begin(), text.end(), ' ', '_');
  if (!text.empty() && text.back() == '/') {
    text.back() = '_';
  }
  if (!text.empty() && text.front() == '/') {
    text.front() = '_';
  }
  if (text.find('/') == std::string::npos) return text;

  std::string joined;
  size_t start = 0;
  while (start <= text.size()) {
    size_t slash = std::min(text.find('/', start), text.size());
    if (slash > start) {
      if (!joined.empty()) joined += '/';
      joined.append(text, start, slash - start);
    }
    start = slash + 1;
  }
  return joined.empty() ? text : joined;
}
