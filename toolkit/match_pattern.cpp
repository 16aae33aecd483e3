#include "toolkit/match_pattern.h"

#include <cstddef>

namespace {

// Decodes the UTF-8 code point at pos and advances pos. A broken sequence
// yields its first byte as a character of its own; so does an overlong
// one, which would otherwise let a wildcard ('?' as C0 BF) or a range's
// '-' in by another spelling, a surrogate and what lies past U+10FFFF.
char32_t NextChar(std::string_view s, size_t& pos) {
  static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  unsigned char b = static_cast<unsigned char>(s[pos]);
  size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
  if (pos + len > s.size()) len = 1;
  char32_t c = len == 1 ? b : (b & (0x7F >> len));
  for (size_t i = 1; i < len; ++i) {
    unsigned char cb = static_cast<unsigned char>(s[pos + i]);
    if ((cb & 0xC0) != 0x80) {
      len = 1;
      c = b;
      break;
    }
    c = (c << 6) | (cb & 0x3F);
  }
  if (len > 1 && (c < kShortest[len] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) {
    len = 1;
    c = b;
  }
  pos += len;
  return c;
}

char32_t Fold(char32_t c, bool caseSensitive) {
  return (!caseSensitive && c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

bool InRange(char32_t c, char32_t lo, char32_t hi, bool caseSensitive) {
  if (lo <= c && c <= hi) return true;
  if (caseSensitive) return false;
  char32_t other = (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
  return lo <= other && other <= hi;
}

enum class Element { kMatch, kNoMatch, kMalformed };

// Matches the non-'*' pattern element at p against c and moves p past it.
Element MatchElement(std::string_view pat, size_t& p, char32_t c, bool cs) {
  char32_t first = NextChar(pat, p);
  if (first == '?') return Element::kMatch;
  if (first == '#') return c >= '0' && c <= '9' ? Element::kMatch : Element::kNoMatch;
  if (first != '[') return Fold(first, cs) == Fold(c, cs) ? Element::kMatch : Element::kNoMatch;

  bool negate = p < pat.size() && pat[p] == '!';
  if (negate) ++p;
  bool found = false;
  bool empty = true;
  while (true) {
    if (p >= pat.size()) return Element::kMalformed;
    if (pat[p] == ']') {
      ++p;
      break;
    }
    char32_t lo = NextChar(pat, p);
    char32_t hi = lo;
    // A '-' between two characters forms a range; at either end it is literal.
    if (p + 1 < pat.size() && pat[p] == '-' && pat[p + 1] != ']') {
      ++p;
      hi = NextChar(pat, p);
      if (hi < lo) return Element::kMalformed;
    }
    empty = false;
    if (InRange(c, lo, hi, cs)) found = true;
  }
  if (empty) return Element::kMalformed;
  return found != negate ? Element::kMatch : Element::kNoMatch;
}

}  // namespace

bool MatchPattern(std::string_view text, std::string_view pattern, bool caseSensitive) {
  size_t t = 0, p = 0;
  // Where to resume after the last '*': the pattern just past it and the
  // text position it has swallowed up to.
  size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    if (p < pattern.size()) {
      size_t tNext = t, pNext = p;
      char32_t c = NextChar(text, tNext);
      Element e = MatchElement(pattern, pNext, c, caseSensitive);
      if (e == Element::kMalformed) return false;
      if (e == Element::kMatch) {
        t = tNext;
        p = pNext;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    NextChar(text, starT);
    t = starT;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsValidPattern(std::string_view pattern) {
  size_t p = 0;
  while (p < pattern.size()) {
    if (pattern[p] == '*') {
      ++p;
      continue;
    }
    if (MatchElement(pattern, p, U'\0', true) == Element::kMalformed) return false;
  }
  return true;
}

bool HasWildcards(std::string_view pattern) {
  return pattern.find_first_of("*?#[") != std::string_view::npos;
}
