#include "ui/dlg_progress.h"

#include <QProgressBar>
#include <QTimerEvent>

#include <algorithm>
#include <climits>
#include <thread>

#include "ui/dialog_result.h"

namespace {

int BarValue(uint32_t value) { return static_cast<int>(std::min<uint32_t>(value, INT_MAX)); }

}  // namespace

CDlgProgress::CDlgProgress(WorkFunction work, void* parameter)
    : CResourceDialog(kDialogId, nullptr), work_(work), parameter_(parameter), handle_(ProgressHandle::Create()) {}

bool CDlgProgress::OnInitDialog() {
  // The thread takes its own reference and nothing of the dialog, which may
  // be gone long before a worker that ignores the keep-going flag ends.
  std::thread([work = work_, parameter = parameter_, handle = handle_] {
    work(parameter, handle);
    handle->SetDone();
  }).detach();
  bar_ = Control<QProgressBar>(kProgressBar);
  timerId_ = startTimer(kTickMs);
  return true;
}

void CDlgProgress::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timerId_) {
    CResourceDialog::timerEvent(event);
    return;
  }
  const uint32_t range = handle_->Range();
  if (range != range_) {
    // 0..0 would be Qt's busy indicator; the framework's bar is then empty.
    if (bar_) bar_->setRange(0, std::max(BarValue(range), 1));
    range_ = range;
  }
  const uint32_t position = handle_->Position();
  if (position != position_) {
    // Clamped to the range, as the framework's bar does.
    if (bar_) bar_->setValue(std::min(BarValue(position), bar_->maximum()));
    position_ = position;
  }
  if (handle_->Done()) {
    StopTimer();
    EndDialog(IDOK);
  }
}

void CDlgProgress::OnOK() { OnCancel(); }

void CDlgProgress::OnCancel() {
  handle_->Cancel();
  StopTimer();
  EndDialog(IDCANCEL);
}

void CDlgProgress::StopTimer() {
  if (timerId_ != 0) killTimer(timerId_);
  timerId_ = 0;
}
