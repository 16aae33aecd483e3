#include "app/frame_window_link.h"

#include <QCoreApplication>

void CFrameWindowLink::Attach(QObject* frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  frame_ = frame;
}

void CFrameWindowLink::Detach(QObject* frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frame_ == frame) frame_ = nullptr;
}

bool CFrameWindowLink::Exists() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_ != nullptr;
}

void CFrameWindowLink::PostCloseMessage() {
  // Under the lock: the frame cannot be destroyed between the test and the
  // post, and Qt drops events still queued for an object it deletes.
  std::lock_guard<std::mutex> lock(mutex_);
  if (frame_) QCoreApplication::postEvent(frame_, new QEvent(kCloseNoClientsEvent));
}
