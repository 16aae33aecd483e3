// CStatusPrinter: for a server without a screen, a line on standard output
// with what the main window shows: the connection state and the seven
// statistics, labelled with the window's own texts. Once a second, and at
// once when the connection state changes (looked at every 10 ms until the
// first connection is up, then with the once-a-second line), so that the
// moment the server is connected can be read from the output.
//
// Contract: main thread; prints from the event loop while it lives.
#pragma once

#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <string>

class CStatusPrinter {
 public:
  explicit CStatusPrinter(FILE* out);

  // The line as it would be printed now (without the newline).
  static std::string StatusLine();

 private:
  void Print();
  void WatchState();

  FILE* out_;
  QTimer lineTimer_;
  QTimer stateTimer_;
  int32_t lastState_ = -1;
};
