// CTolkAELumServerApp: the program's start-up and exit. InitInstance runs
// the server core's start-up steps with the resource library, COM, the
// timer period, the registration switches and the main window placed where
// the program needs them; ExitInstance tears everything down in the
// reverse order. See docs/aeserver.md for what an operator sees.
//
// Contract: one instance per process, on the main thread, after the
// QApplication exists. InitInstance false: the process is to end at once
// (resource library missing, toolkit not initialised, a registration switch
// handled, no window); ExitInstance runs in every case and copes with what
// was never created. The D-Bus transport starts last and stops as soon as
// the window has gone (before the resource library and the core), so that
// other processes see only a whole server. The application name (the program file's base name)
// names the per-user settings key and captions the message boxes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/frame_window_link.h"
#include "app/profile.h"
#include "server/server_core.h"
#include "toolkit/dbus/dbus_transport.h"

class CMainFrame;
class CMainThreadMessageBoxSink;
class CTolkAELumServerDoc;

class CTolkAELumServerApp {
 public:
  static constexpr uint32_t kNoTimerPeriod = 0xFFFFFFFF;

  // `commandLine`: the program's arguments joined by blanks.
  explicit CTolkAELumServerApp(std::string commandLine);
  ~CTolkAELumServerApp();
  CTolkAELumServerApp(const CTolkAELumServerApp&) = delete;
  CTolkAELumServerApp& operator=(const CTolkAELumServerApp&) = delete;

  bool InitInstance();
  // Returns `exitCode` (the message loop's).
  int ExitInstance(int exitCode);

  // The program file's base name, and its folder.
  static std::string AppName();
  static std::string ProgramFolder();
  // The session bus name that other processes call (and activate).
  static std::string BusName();

  // Null before the window exists and after exit.
  CMainFrame* MainFrame() const { return frame_.get(); }
  CServerCore& Core() { return core_; }
  CFrameWindowLink& WindowLink() { return link_; }

  // The multimedia timer period in force, or kNoTimerPeriod.
  uint32_t m_timerPeriod = kNoTimerPeriod;

 private:
  std::string commandLine_;
  CFrameWindowLink link_;
  CServerCore core_;
  CAEDBusTransport transport_;
  CProfile profile_;
  std::unique_ptr<CTolkAELumServerDoc> document_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CMainThreadMessageBoxSink> messageBoxes_;
  bool comInitialized_ = false;
};
