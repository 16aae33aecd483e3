// CMainFrame: the server's only top-level window. Its menu (menu 128 of the
// resource library) dispatches every command through one command map; the
// view shows the connection and the statistics. The frame decides whether
// the program may close: the close request (File Exit, the close box), the
// system close command, and the private close message of the last client.
// Its command map also serves the comments viewer's context menu.
//
// Contract: main thread only. The frame reads the connection manager and
// the toolkit through g_pConnectionManager and g_ServerInterface; it never
// holds a lock of the server's. `onScreen` says whether the platform shows
// windows to a person (false on the offscreen platform): the close rules ask
// only while the window is visible there. When the frame has closed it calls
// the closed handler (the application ends its message loop).
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <string>

#include "ui/command_map.h"

class CFrameWindowLink;
class CProfile;
class CTolkAELumServerDoc;
class CTolkAELumServerView;

class CMainFrame : public QMainWindow {
 public:
  static constexpr uint32_t SC_CLOSE = 0xF060;
  static constexpr int kTraceMaxBytes = 1000000;

  // Applies the stored trace settings (profile section "Settings").
  CMainFrame(CFrameWindowLink& link, const CProfile& profile, bool onScreen);
  ~CMainFrame() override;

  // Caption, size and place, menu and view; false when the menu cannot be
  // loaded from the resource library.
  bool Create(const CTolkAELumServerDoc& document);
  void SetClosedHandler(std::function<void()> closed) { closed_ = std::move(closed); }

  // Visible on a screen a person sees.
  bool IsWindowVisible() const;

  // The menu commands (what choosing a menu item does).
  bool ExecuteCommand(uint32_t id) { return commands_.Execute(id); }
  CCmdUI UpdateCommand(uint32_t id) const { return commands_.Update(id); }

  // The system command; false when it was dropped.
  bool OnSysCommand(uint32_t command);

  CTolkAELumServerView* View() const { return view_; }
  int TraceLevel() const { return m_traceLevel; }
  const std::string& TraceFile() const { return m_traceFile; }
  bool ComCallTracing() const { return m_comCallTracing; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void MapCommands();
  // The close request's rules; true when the window may close.
  bool CloseRequestAllowed();

  void OnEditConnection();
  void OnSetSamplePeriod();
  void OnTraceLevel(int level);
  void OnSetTraceFile();
  void OnComCallTracing();
  void OnHelpIndex();
  void OnViewComments();
  void OnConfigureLog();
  void OnAbout();

  CFrameWindowLink& link_;
  const CProfile& profile_;
  bool onScreen_;
  CCommandMap commands_;
  CTolkAELumServerView* view_ = nullptr;
  std::function<void()> closed_;
  bool closeApproved_ = false;
  int m_traceLevel = 0;
  std::string m_traceFile;
  bool m_comCallTracing = false;
};
