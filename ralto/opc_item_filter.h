// The filter of BrowseOPCItemIDs: the OPC pattern syntax (Visual Basic
// "Like"): ? any one character, * any run of characters, # one digit,
// [list] one character of the list ([!list] one not in it; ranges a-z; "-"
// literal first or last). The whole id must match; case counts.
//
// Pure functions; any thread may call.
#pragma once

#include <string_view>

// False for an unterminated or empty [list] or a descending range.
bool IsValidItemFilter(std::string_view filter);
// REQUIRES: IsValidItemFilter(filter). An empty filter matches everything.
bool MatchItemFilter(std::string_view id, std::string_view filter);
