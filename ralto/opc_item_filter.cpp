#include "ralto/opc_item_filter.h"

namespace {

// Length of the pattern element at `at` (a [list] with its brackets), or 0
// when it is not well formed.
size_t ElementLength(std::string_view filter, size_t at) {
  if (filter[at] != '[') return 1;
  size_t first = at + 1;
  if (first < filter.size() && filter[first] == '!') ++first;
  size_t close = filter.find(']', first);
  if (close == std::string_view::npos || close == first) return 0;
  for (size_t i = first; i < close; ++i) {
    if (i + 2 < close && filter[i + 1] == '-') {
      if (filter[i] > filter[i + 2]) return 0;
      i += 2;
    }
  }
  return close - at + 1;
}

bool ElementMatches(std::string_view element, char c) {
  if (element[0] == '?') return true;
  if (element[0] == '#') return c >= '0' && c <= '9';
  if (element[0] != '[') return element[0] == c;
  size_t i = 1;
  bool negate = element[i] == '!';
  if (negate) ++i;
  size_t close = element.size() - 1;
  bool found = false;
  for (; i < close && !found; ++i) {
    if (i + 2 < close && element[i + 1] == '-') {
      found = c >= element[i] && c <= element[i + 2];
      i += 2;
    } else {
      found = c == element[i];
    }
  }
  return found != negate;
}

}  // namespace

bool IsValidItemFilter(std::string_view filter) {
  for (size_t at = 0; at < filter.size();) {
    size_t length = ElementLength(filter, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool MatchItemFilter(std::string_view id, std::string_view filter) {
  if (filter.empty()) return true;
  size_t t = 0, p = 0;
  size_t starP = std::string_view::npos, starT = 0;
  while (t < id.size()) {
    if (p < filter.size() && filter[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    if (p < filter.size()) {
      size_t length = ElementLength(filter, p);
      if (ElementMatches(filter.substr(p, length), id[t])) {
        p += length;
        ++t;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < filter.size() && filter[p] == '*') ++p;
  return p == filter.size();
}
