// CServerCore: the server's start-up objects without its window, in the
// order the application starts them: the toolkit initialised with the
// server's CLSID and registration data, the event catalogue, the server
// callback, status running, the connection manager (g_pConnectionManager)
// wired to the alarm processor, the global interface table, the first
// connection. Stop takes them down in the application's exit order. The
// headless runner that tests and benchmarks use; the application builds on
// it, running the same steps with its window between them.
//
// Contract: one instance at a time (it fills process-wide objects). Start
// and Stop from one thread, the program's main thread. Start answers false,
// with nothing started, when the toolkit cannot be initialised (already
// initialised included). The default core brings the server's own callback
// and stands in for the main window: when the last client disconnects, the
// callback's close message ends the run (WaitForClose). A callback given to
// the other constructor is not owned and must outlive Stop; null keeps the
// toolkit's own. The acknowledgement log is created after the "window"
// unless g_pAlarmLog is already set (then it is the caller's). The global
// interface table, once created, stays for the process.
#pragma once

#include <memory>

#include "acklog/alarm_log.h"
#include "alarmproc/alarm_processor.h"
#include "callback/lum_ae_server_callback.h"
#include "opcda/connection_manager.h"
#include "platform/com.h"
#include "toolkit/server_callback.h"
#include "toolkit/server_interface.h"

// {8E2F4C61-3B7A-4D95-A1C8-6F0E2D9B5A47}: the OPC AE server object, and its AppID.
constexpr CLSID kServerClsid{0x8E2F4C61, 0x3B7A, 0x4D95, {0xA1, 0xC8, 0x6F, 0x0E, 0x2D, 0x9B, 0x5A, 0x47}};

class CMainWindowLink;

class CServerCore {
 public:
  // Headless: the close message of the last client ends WaitForClose.
  CServerCore();
  // With the program's main window: the server's own callback posts the
  // close message to `window` (not owned; it must outlive Stop).
  explicit CServerCore(CMainWindowLink& window);
  // `timing` and `clock` go to the alarm processor.
  CServerCore(CAEServerCallback* callback, CAlarmProcessor::Timing timing, ae::Clock& clock);
  // Stop.
  ~CServerCore();
  CServerCore(const CServerCore&) = delete;
  CServerCore& operator=(const CServerCore&) = delete;

  // The registration data of the server object.
  static CAEServerRegistration Registration();

  // Starts everything and asks the connection manager to connect (which
  // goes on in the background): the steps below in their order.
  bool Start();

  // The start-up steps, for a program that places its window between them.
  // InitializeToolkit first (false: nothing started, skip the rest), then
  // RegisterServer/UnregisterServer of g_ServerInterface or the others in
  // this order. Each runs once.
  bool InitializeToolkit();
  // The event catalogue, the callback, status running.
  void DeclareServer();
  // g_pConnectionManager, wired to the alarm processor; before the window.
  void CreateConnectionManager();
  // g_pAlarmLog, unless the caller set one; after the window.
  void CreateAlarmLog();
  // The global interface table, then the first connection attempt.
  void Connect();

  // Stops the alarm processor, uninitialises the toolkit, clears the
  // source cache and the catalogue, deletes the connection manager. Safe
  // to call twice, and without Start.
  void Stop();

  // Blocks until the server asked its main window to close (the last
  // client has gone) or timeoutMs has passed; true when asked. Always false
  // for a core built with a callback of the caller's.
  bool WaitForClose(DWORD timeoutMs);

  // Null unless started.
  ConnectionManager* Manager() const { return manager_.get(); }
  CAlarmProcessor& Processor() { return processor_; }

 private:
  class CHeadlessWindow;

  std::unique_ptr<CHeadlessWindow> headless_;
  std::unique_ptr<CLumAEServerCallback> ownCallback_;
  std::unique_ptr<CAlarmLog> ownLog_;
  CAEServerCallback* callback_;
  CAlarmProcessor processor_;
  std::unique_ptr<ConnectionManager> manager_;
  bool toolkitStarted_ = false;
};
