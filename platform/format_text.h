// FormatText: a text of the string table with its numbered message
// arguments ("%1" to "%9") filled in.
//
// Contract: one pass over `text`: every "%n" becomes arguments[n - 1], as
// often as it appears; what an argument brings is never read again, so an
// argument holding "%1" stays as it is. A "%n" without its argument, "%0"
// and any other "%" stay as written. Any thread may call.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> arguments);
