// The OPC filter-string matcher (area, source and browse filters), against
// a plain reference: the pattern read into elements first, then matched by
// dynamic programming over the text's code points. The input is a text and
// a pattern, split at the first NUL byte (none: the pattern is the whole
// input and the text empty). MatchPattern must agree with the reference in
// both cases, IsValidPattern must agree with the reading, a malformed
// pattern must match nothing, a case-insensitive match must hold wherever a
// case-sensitive one does (unless a list is negated), and a pattern without
// wildcards must match its own text only.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "toolkit/match_pattern.h"

namespace {

// UTF-8 as the matcher reads it: a broken, overlong or out-of-range
// sequence (a surrogate, past U+10FFFF) yields its first byte.
std::vector<char32_t> CodePoints(std::string_view s) {
  static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    char32_t c = b;
    if (len > 1 && i + len <= s.size()) {
      c = b & (0xFF >> (len + 1));
      for (size_t k = 1; k < len && len > 1; ++k) {
        unsigned char cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) len = 1;
        c = (c << 6) | (cb & 0x3F);
      }
    } else {
      len = 1;
    }
    if (len > 1 && (c < kShortest[len] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) len = 1;
    if (len == 1) c = b;
    out.push_back(c);
    i += len;
  }
  return out;
}

struct Element {
  enum Kind { kLiteral, kAny, kDigit, kList, kStar } kind;
  char32_t literal = 0;
  bool negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
};

// False for a malformed pattern: an unclosed or empty list, a descending range.
bool ReadPattern(std::string_view pattern, std::vector<Element>& elements) {
  std::vector<char32_t> p = CodePoints(pattern);
  for (size_t i = 0; i < p.size();) {
    Element e{Element::kLiteral, 0, false, {}};
    char32_t c = p[i++];
    if (c == '*') {
      e.kind = Element::kStar;
    } else if (c == '?') {
      e.kind = Element::kAny;
    } else if (c == '#') {
      e.kind = Element::kDigit;
    } else if (c == '[') {
      e.kind = Element::kList;
      if (i < p.size() && p[i] == '!') {
        e.negate = true;
        ++i;
      }
      for (;;) {
        if (i >= p.size()) return false;
        if (p[i] == ']') {
          ++i;
          break;
        }
        char32_t lo = p[i++], hi = lo;
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
          hi = p[i + 1];
          i += 2;
          if (hi < lo) return false;
        }
        e.ranges.emplace_back(lo, hi);
      }
      if (e.ranges.empty()) return false;
    } else {
      e.literal = c;
    }
    elements.push_back(std::move(e));
  }
  return true;
}

char32_t Upper(char32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }
char32_t Lower(char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

bool Matches(const Element& e, char32_t c, bool caseSensitive) {
  switch (e.kind) {
    case Element::kAny: return true;
    case Element::kDigit: return c >= '0' && c <= '9';
    case Element::kLiteral: return caseSensitive ? e.literal == c : Upper(e.literal) == Upper(c);
    case Element::kList: {
      bool found = false;
      for (const auto& range : e.ranges) {
        auto in = [&](char32_t x) { return range.first <= x && x <= range.second; };
        if (in(c) || (!caseSensitive && (in(Upper(c)) || in(Lower(c))))) found = true;
      }
      return found != e.negate;
    }
    case Element::kStar: break;
  }
  return false;
}

bool Reference(std::string_view text, const std::vector<Element>& pattern, bool caseSensitive) {
  std::vector<char32_t> t = CodePoints(text);
  // row[j]: the first i text characters match the first j elements.
  std::vector<char> row(pattern.size() + 1, 0), next(pattern.size() + 1, 0);
  row[0] = 1;
  for (size_t j = 0; j < pattern.size(); ++j) row[j + 1] = row[j] && pattern[j].kind == Element::kStar;
  for (char32_t c : t) {
    next[0] = 0;
    for (size_t j = 0; j < pattern.size(); ++j) {
      const Element& e = pattern[j];
      next[j + 1] = e.kind == Element::kStar ? (next[j] || row[j + 1]) : (row[j] && Matches(e, c, caseSensitive));
    }
    row.swap(next);
  }
  return row[pattern.size()] != 0;
}

[[noreturn]] void Broken(const char* what, std::string_view text, std::string_view pattern) {
  std::fprintf(stderr, "match_pattern: %s: text \"%.*s\" pattern \"%.*s\"\n", what, int(text.size()), text.data(),
               int(pattern.size()), pattern.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view text = split == std::string_view::npos ? std::string_view() : input.substr(0, split);
  std::string_view pattern = split == std::string_view::npos ? input : input.substr(split + 1);

  std::vector<Element> elements;
  bool valid = ReadPattern(pattern, elements);
  if (IsValidPattern(pattern) != valid) Broken(valid ? "valid pattern refused" : "malformed pattern taken", text, pattern);
  bool sensitive = MatchPattern(text, pattern, true);
  bool insensitive = MatchPattern(text, pattern, false);
  if (!valid) {
    if (sensitive || insensitive) Broken("malformed pattern matched", text, pattern);
    return 0;
  }
  if (sensitive != Reference(text, elements, true)) Broken("case-sensitive match differs", text, pattern);
  if (insensitive != Reference(text, elements, false)) Broken("case-insensitive match differs", text, pattern);
  // (Not for a negated list: "[!0-`]" keeps out "r" when case is folded,
  // as "R" lies in the list.)
  if (sensitive && !insensitive && pattern.find("[!") == std::string_view::npos)
    Broken("matched only with case", text, pattern);
  // (Only for ASCII: a broken UTF-8 sequence reads as its first byte, which
  // may equal a code point written properly elsewhere.)
  auto ascii = [](std::string_view s) { return std::all_of(s.begin(), s.end(), [](char c) { return c > 0; }); };
  if (!HasWildcards(pattern) && ascii(text) && ascii(pattern) && sensitive != (text == pattern))
    Broken("plain pattern differs from equality", text, pattern);
  return 0;
}
