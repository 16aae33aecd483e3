// CDlgProgress: the progress dialog (form 1001) in front of a piece of work
// that runs on a worker thread, such as loading log files.
//
// DoModal starts a thread that holds its own reference to a fresh
// ProgressHandle, calls work(parameter, a further reference) and then sets
// the handle's done flag. Every 50 ms the dialog copies the handle's range
// and position to the bar (1007) and, once done is set, ends with IDOK.
// Cancel, Escape and Enter clear the handle's keep-going flag and end with
// IDCANCEL at once, without waiting for the worker.
//
// The work function runs on the worker thread and must not touch the
// dialog; it should return early once KeepGoing() is false. A worker that
// does not runs on after the dialog has gone, with its handle alive, and its
// caller must then ignore what it produces. The worker uses nothing of the
// dialog, so it may outlive the dialog and the Qt application; REQUIRES:
// what `parameter` points to stays valid until the work function returns.
//
// Threads: the dialog on the main thread only.
#pragma once

#include <cstdint>

#include "acklog/progress_handle.h"
#include "platform/com.h"
#include "ui/resource_dialog.h"

class QProgressBar;
class QTimerEvent;

class CDlgProgress : public CResourceDialog {
  Q_OBJECT

 public:
  using WorkFunction = void (*)(void*, ComPtr<ProgressHandle>);

  static constexpr int kDialogId = 1001;
  static constexpr int kProgressBar = 1007;
  static constexpr int kTickMs = 50;

  CDlgProgress(WorkFunction work, void* parameter);

 protected:
  bool OnInitDialog() override;
  // Enter cancels as Cancel does.
  void OnOK() override;
  void OnCancel() override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void StopTimer();

  WorkFunction work_;
  void* parameter_;
  ComPtr<ProgressHandle> handle_;
  QProgressBar* bar_ = nullptr;  // attached when the dialog opens
  uint32_t range_ = 0;     // last written to the bar
  uint32_t position_ = 0;  // last written to the bar
  int timerId_ = 0;
};
