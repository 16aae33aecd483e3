// CWindowSnapshot: a picture of the main window once the server runs: it
// waits until the connection is up and the toolkit has generated events,
// lets the statistics show them, writes the window as a PNG file and closes
// the window (which ends the program). For the documentation and review.
//
// Contract: main thread; `frame` must outlive it. When the server is not
// connected with events flowing within `limitMs`, the picture is written
// anyway and Failed() is true.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

class CMainFrame;
class CFrameWindowLink;

class CWindowSnapshot {
 public:
  CWindowSnapshot(CMainFrame& frame, CFrameWindowLink& link, QString file, int limitMs = 60000);

  bool Failed() const { return failed_; }
  bool Written() const { return written_; }

 private:
  void Poll();
  void Take();

  CMainFrame& frame_;
  CFrameWindowLink& link_;
  QString file_;
  int limitMs_;
  QTimer timer_;
  QElapsedTimer elapsed_;
  qint64 flowingSinceMs_ = -1;
  bool failed_ = false;
  bool written_ = false;
};
