// OutputDebugString stand-in: diagnostic text for whoever watches.
//
// Contract: DebugOutput hands the text, exactly as given (no newline added),
// to the current sink; the default sink writes it to stderr. Any thread may
// call either function. Sink calls are serialised, and once
// SetDebugOutputSink has returned the previous sink is no longer running nor
// called again, so its owner may destroy what it captures. A sink may call
// DebugOutput itself (the nested text goes to the same sink).
#pragma once

#include <functional>
#include <string>

using DebugOutputSink = std::function<void(const std::string&)>;

void DebugOutput(const std::string& text);

// Installs `sink` (an empty function: the default stderr sink) and returns
// the one it replaces (empty when that was the default).
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);
