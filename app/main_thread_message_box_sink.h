// CMainThreadMessageBoxSink: shows the configuration import's message boxes
// on the main thread. The import runs on a connect or binding thread; its
// box is handed to the main thread's event loop and the import waits until
// the operator has closed it. On the main thread itself the box is shown
// at once.
//
// Contract: construct, Install and destroy on the main thread after the window exists; Close (main
// thread, before the connection threads are stopped) uninstalls the sink and
// releases every import still waiting, whether its box was shown or not, so
// that stopping a connection thread never waits for an operator.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <QObject>

#include "alarmconfig/message_box_sink.h"

class QWidget;

class CMainThreadMessageBoxSink final : public CMessageBoxSink {
 public:
  // The boxes are owned by `parent` (the main frame; may be null).
  explicit CMainThreadMessageBoxSink(QWidget* parent);
  ~CMainThreadMessageBoxSink();

  void Install();
  void Close();

  void ShowMessageBox(const std::string& text, MessageBoxIcon icon) override;

 private:
  struct Pending;

  QWidget* parent_;
  std::mutex mutex_;
  bool closed_ = false;
  std::vector<std::shared_ptr<Pending>> pending_;
  // Receives the queued boxes; destroyed first, so a box still queued when
  // the sink goes (on the main thread) is dropped with it.
  QObject context_;
};
