#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include <sdbus-c++/sdbus-c++.h>

#include "tests/support/eventually.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

size_t FileSize(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  return file ? size_t(file.tellg()) : 0;
}

}  // namespace

CServerProcess::CServerProcess(std::string program, std::string outputBase)
    : program_(std::move(program)), outPath_(outputBase + ".out"), errPath_(outputBase + ".err") {}

CServerProcess::~CServerProcess() {
  if (Running()) Kill();
}

bool CServerProcess::Start() {
  if (Running()) return false;
  outStart_ = FileSize(outPath_);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execl(program_.c_str(), program_.c_str(), "--print-status", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) return false;
  pid_ = pid;
  return true;
}

void CServerProcess::Kill() {
  if (!Running()) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool CServerProcess::Stop(std::chrono::milliseconds limit) {
  if (!Running()) return true;
  kill(pid_, SIGTERM);
  if (Eventually([this] { return Ended(); }, limit)) return true;
  Kill();
  return false;
}

bool CServerProcess::Ended() {
  if (!Running()) return true;
  if (waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

std::string CServerProcess::Output() const { return ReadFile(outPath_); }

std::string CServerProcess::Errors() const { return ReadFile(errPath_); }

std::string CServerProcess::OutputSinceStart() const {
  std::string all = Output();
  return outStart_ < all.size() ? all.substr(outStart_) : std::string();
}

std::string CServerProcess::LastStatusLine() const {
  std::string out = OutputSinceStart();
  if (!out.empty() && out.back() == '\n') out.pop_back();
  size_t start = out.rfind('\n');
  return start == std::string::npos ? out : out.substr(start + 1);
}

bool WaitForBusName(const std::string& name, std::chrono::milliseconds limit) {
  std::unique_ptr<sdbus::IConnection> bus;
  try {
    bus = sdbus::createSessionBusConnection();
  } catch (const sdbus::Error&) {
    return false;
  }
  auto daemon = sdbus::createProxy(*bus, "org.freedesktop.DBus", "/org/freedesktop/DBus");
  return Eventually(
      [&] {
        bool owned = false;
        try {
          daemon->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(name).storeResultsTo(owned);
        } catch (const sdbus::Error&) {
          return false;
        }
        return owned;
      },
      limit);
}
