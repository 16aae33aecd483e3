// CFrameWindowLink: the server callback's way to the main frame. The close
// message of the last client (WM_APP + 1000) becomes a queued Qt event of
// type kCloseNoClientsEvent posted to the frame, handled on the main thread.
//
// Contract: Attach and Detach on the main thread (the frame attaches when it
// is created and detaches in its destructor); Exists and PostCloseMessage
// from any thread. A message posted while the frame goes is dropped with it.
#pragma once

#include <QEvent>
#include <QObject>

#include <mutex>

#include "callback/main_window_link.h"

inline const QEvent::Type kCloseNoClientsEvent = static_cast<QEvent::Type>(QEvent::User + 1000);

class CFrameWindowLink : public CMainWindowLink {
 public:
  void Attach(QObject* frame);
  void Detach(QObject* frame);

  bool Exists() override;
  void PostCloseMessage() override;

 private:
  std::mutex mutex_;
  QObject* frame_ = nullptr;
};
