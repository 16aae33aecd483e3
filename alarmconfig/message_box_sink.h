// Message boxes of the configuration import, and whether the operator can
// see them.
//
// The import shows a message box only while the main window is visible:
// g_bInteractive is 1 when the window was visible at the end of start-up,
// and stays 0 until the window exists (tools and tests set it to take the
// visible-window paths). The text goes to the installed CMessageBoxSink,
// which the main window fills in; with no sink installed it goes nowhere.
//
// Contract: ShowMessageBox runs on the thread of the import (a connect or
// binding thread) and may block until the operator closes the box; a sink
// that must show it on the main thread does the hand-over itself. Sink
// installation and g_bInteractive are safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// NoIcon, not None: X11 defines None as a macro.
enum class MessageBoxIcon { NoIcon, Exclamation };

class CMessageBoxSink {
 public:
  virtual void ShowMessageBox(const std::string& text, MessageBoxIcon icon) = 0;

 protected:
  ~CMessageBoxSink() = default;
};

// 1 while the main window is visible; 0 (the start) when there is none.
extern std::atomic<int32_t> g_bInteractive;

// Installs `sink` (not owned; null: none) and returns the one it replaces.
// The sink is called without any lock held, so a box being shown when it is
// replaced still runs to its end. REQUIRES: the sink stays alive until no
// import can be showing a box (the program stops its connection threads
// before it drops the sink).
CMessageBoxSink* SetMessageBoxSink(CMessageBoxSink* sink);

// Hands the text to the installed sink, if any.
void ShowMessageBox(const std::string& text, MessageBoxIcon icon);
