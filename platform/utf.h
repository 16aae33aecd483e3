// UTF-8 inside the program, UTF-16LE where a file format demands it: the
// conversions between them. Malformed input never fails a conversion: each
// malformed sequence becomes U+FFFD, so a stray byte cannot lose a record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Decodes the sequence at text[i] and moves i past it; false (i unchanged)
// for a malformed, overlong or surrogate sequence.
bool DecodeUtf8(std::string_view text, size_t& i, char32_t& c);
void AppendUtf8(std::string& out, char32_t c);

// The text in Unicode simple upper case, for comparisons that ignore case
// (registry names, program names). Bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view text);

// UTF-16LE bytes (no byte-order mark expected; an odd last byte is dropped)
// as UTF-8.
std::string Utf16LeToUtf8(std::string_view bytes);
// UTF-8 text as UTF-16LE bytes, without byte-order mark.
std::string Utf8ToUtf16Le(std::string_view text);
