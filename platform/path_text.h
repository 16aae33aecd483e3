// Path text helpers shared by the acknowledgement log, the application and
// the dialogs. Pure text work: nothing touches the file system. Any thread.
#pragma once

#include <string>

// `text` with a directory separator at its end: "/" is appended unless the
// text is empty or already ends in "/" or "\\" (a path typed the Windows way
// counts as terminated).
inline std::string EnsureTrailingBackslash(std::string text) {
  if (!text.empty() && text.back() != '/' && text.back() != '\\') text += '/';
  return text;
}
