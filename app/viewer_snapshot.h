// CViewerSnapshot: a picture of the acknowledgement comments viewer with
// records in it, for the documentation and review. Once the server runs
// with events flowing it acts as an OPC AE client of its own: it subscribes,
// acknowledges a few active alarms with operators' comments (the road of a
// client's acknowledgement: the write-back to the controller, then the log
// while "EnableACKLogging" is on), opens the viewer through the window's
// View... command, writes the viewer as a PNG file, and closes the window
// (which ends the program). The viewer shows what the filter settings
// choose; scripts/run sets them to today's records of the local folder.
//
// Contract: main thread; `frame` must outlive it. When no alarm could be
// acknowledged within `limitMs`, the viewer is pictured as it is and
// Failed() is true.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <memory>

class CFrameWindowLink;
class CMainFrame;

class CViewerSnapshot {
 public:
  CViewerSnapshot(CMainFrame& frame, CFrameWindowLink& link, QString file, int limitMs = 60000);
  ~CViewerSnapshot();

  bool Failed() const { return failed_; }
  bool Written() const { return written_; }

 private:
  struct Client;

  void Poll();
  void OpenViewer();
  void TakeViewer();

  CMainFrame& frame_;
  CFrameWindowLink& link_;
  QString file_;
  int limitMs_;
  QTimer timer_;
  QTimer viewerWatch_;
  QElapsedTimer elapsed_;
  std::unique_ptr<Client> client_;
  bool failed_ = false;
  bool written_ = false;
};
