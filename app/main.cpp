// aeserver: the plant alarm server with its window. Without a display it
// runs on Qt's offscreen platform and goes on serving. Two options of this
// platform's own (the registration switches are the application's):
//   --print-status             the window's contents once a second on stdout
//   --screenshot FILE          a PNG of the window once events flow, then exit
//   --screenshot-viewer FILE   a PNG of the comments viewer after acknowledging
//                              a few alarms as a client, then exit
// SIGINT and SIGTERM close the window as the last client's going does: the
// server ends cleanly.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/server_icon.h"
#include "app/status_printer.h"
#include "app/tolk_ae_lum_server_app.h"
#include "app/viewer_snapshot.h"
#include "app/window_snapshot.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char byte = 1;
  [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &byte, 1);
}

bool HasDisplay() { return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"); }

// The offscreen platform's notices about window features it lacks are not
// for the operator; everything else goes where Qt sends it.
QtMessageHandler g_qtHandler = nullptr;
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  g_qtHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay() && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  g_qtHandler = qInstallMessageHandler(FilterQtMessages);

  std::string commandLine;
  bool printStatus = false;
  QString screenshot;
  QString viewerScreenshot;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--print-status") == 0) {
      printStatus = true;
      continue;
    }
    if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
      screenshot = QString::fromLocal8Bit(argv[++i]);
      continue;
    }
    if (std::strcmp(argv[i], "--screenshot-viewer") == 0 && i + 1 < argc) {
      viewerScreenshot = QString::fromLocal8Bit(argv[++i]);
      continue;
    }
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += argv[i];
  }

  // The user's locale for the dates and times the server shows (Qt takes
  // LC_ALL from the environment); numbers stay in the C notation that the
  // documents and files are written in.
  QApplication qapp(argc, argv);
  setlocale(LC_ALL, "");
  setlocale(LC_NUMERIC, "C");
  qapp.setQuitOnLastWindowClosed(false);
  qapp.setWindowIcon(ServerIcon());

  CTolkAELumServerApp app(commandLine);
  int exitCode = 0;
  if (app.InitInstance()) {
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
      signalNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
      QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&app] {
        char byte;
        [[maybe_unused]] ssize_t n = read(g_signalPipe[0], &byte, 1);
        app.WindowLink().PostCloseMessage();
      });
      struct sigaction action {};
      action.sa_handler = OnSignal;
      sigaction(SIGINT, &action, nullptr);
      sigaction(SIGTERM, &action, nullptr);
    }
    std::unique_ptr<CStatusPrinter> printer;
    if (printStatus) printer = std::make_unique<CStatusPrinter>(stdout);
    std::unique_ptr<CWindowSnapshot> snapshot;
    if (!screenshot.isEmpty()) snapshot = std::make_unique<CWindowSnapshot>(*app.MainFrame(), app.WindowLink(), screenshot);
    std::unique_ptr<CViewerSnapshot> viewerSnapshot;
    if (!viewerScreenshot.isEmpty())
      viewerSnapshot = std::make_unique<CViewerSnapshot>(*app.MainFrame(), app.WindowLink(), viewerScreenshot);
    exitCode = qapp.exec();
    if (snapshot && (snapshot->Failed() || !snapshot->Written())) exitCode = 1;
    if (viewerSnapshot && (viewerSnapshot->Failed() || !viewerSnapshot->Written())) exitCode = 1;
  }
  return app.ExitInstance(exitCode);
}
