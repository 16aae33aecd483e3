// NormalizeAreaPath: the area path that the server makes of a block's Area
// text before it names sources with it.
//
//   1. every " " becomes "_";
//   2. a trailing "/" is dropped and "_" appended;
//   3. a leading "/" is dropped and "_" prepended;
//   4. if a "/" is left, the text is split at every "/" and the non-empty
//      parts are joined with single "/" (no non-empty part: unchanged).
//
// e.g. "Tank Farm//T-103" -> "Tank_Farm/T-103", "//" -> "__", "/" -> "_".
// A pure function.
#pragma once

#include <string>

std::string NormalizeAreaPath(std::string text);
