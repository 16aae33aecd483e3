// CMainWindowLink: how the server callback reaches the application's main
// window without depending on the window framework. The application
// implements it with its frame window; the headless runner implements it by
// ending its run. A null link means "no main window yet".
//
// Contract: the callback calls both members from the toolkit's threads,
// never under a lock of the server's. The implementation must outlive its
// registration with the callback.
#pragma once

#include <cstdint>

// The private message that closes the main window without asking
// (WM_APP + 1000), posted with both parameters 0.
constexpr uint32_t WM_CLOSE_NO_CLIENTS = 0x8000 + 1000;

class CMainWindowLink {
 public:
  virtual ~CMainWindowLink() = default;
  // True once the main window has been created (and until it is gone).
  virtual bool Exists() = 0;
  // Posts WM_CLOSE_NO_CLIENTS (wParam 0, lParam 0) to the main window and
  // returns at once; the window closes the application.
  virtual void PostCloseMessage() = 0;
};
