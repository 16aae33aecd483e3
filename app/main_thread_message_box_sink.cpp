#include "app/main_thread_message_box_sink.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <condition_variable>

#include "ui/message_box.h"

struct CMainThreadMessageBoxSink::Pending {
  std::condition_variable answered;
  bool done = false;
};

namespace {

void ShowOnThisThread(QWidget* parent, const std::string& text, MessageBoxIcon icon) {
  CMessageBox::Show(parent, QString::fromStdString(text), CMessageBox::Buttons::Ok,
                    icon == MessageBoxIcon::Exclamation ? CMessageBox::Icon::Exclamation : CMessageBox::Icon::NoIcon);
}

}  // namespace

CMainThreadMessageBoxSink::CMainThreadMessageBoxSink(QWidget* parent) : parent_(parent) {}

CMainThreadMessageBoxSink::~CMainThreadMessageBoxSink() { Close(); }

void CMainThreadMessageBoxSink::Install() { SetMessageBoxSink(this); }

void CMainThreadMessageBoxSink::Close() {
  if (SetMessageBoxSink(nullptr) != this) SetMessageBoxSink(nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const auto& pending : pending_) {
    pending->done = true;
    pending->answered.notify_all();
  }
  pending_.clear();
}

void CMainThreadMessageBoxSink::ShowMessageBox(const std::string& text, MessageBoxIcon icon) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  if (QThread::currentThread() == app->thread()) {
    ShowOnThisThread(parent_, text, icon);
    return;
  }
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    pending_.push_back(pending);
  }
  QMetaObject::invokeMethod(
      &context_,
      [this, pending, text, icon] {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (pending->done) return;  // released by Close before it came up
        }
        ShowOnThisThread(parent_, text, icon);
        std::lock_guard<std::mutex> lock(mutex_);
        pending->done = true;
        pending->answered.notify_all();
        pending_.erase(std::remove(pending_.begin(), pending_.end(), pending), pending_.end());
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex_);
  pending->answered.wait(lock, [&] { return pending->done; });
}
