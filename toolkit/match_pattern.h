// The OPC filter-string syntax (Visual Basic "Like"), used for area and
// source filters and browse filters: ? one character, * any run, # one digit,
// [list] / [!list] one character in / not in the list (ranges a-z; a '-' at
// the start or end of a list is literal). The whole text must match the
// whole pattern; characters are UTF-8 code points.
//
// Contract: pure functions, any thread. A malformed pattern (unclosed '[',
// empty list, descending range) matches nothing; IsValidPattern tells.
#pragma once

#include <string_view>

// Case-insensitivity folds ASCII letters only.
bool MatchPattern(std::string_view text, std::string_view pattern, bool caseSensitive = true);
bool IsValidPattern(std::string_view pattern);
// True when the pattern holds a wildcard element (* ? # [).
bool HasWildcards(std::string_view pattern);
