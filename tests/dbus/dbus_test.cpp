// The program served on a private bus, reached only from other processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/private_bus.h"

namespace {

const std::string kBin = BIN_DIR;

struct Result {
  int rc;
  std::string out;
};

Result Shell(const std::string& command) {
  Result r{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  int status = pclose(pipe);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

pid_t Spawn(const std::string& command, const std::string& output = "/dev/null") {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", ("exec " + command + " >" + output + " 2>&1").c_str(), nullptr);
    _exit(127);
  }
  return pid;
}

// Waits for the child's end; false after timeoutMs.
bool WaitExit(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The first --json line of an active condition waiting for acknowledgement.
std::string FirstUnacked(const std::string& lines) {
  for (size_t at = 0; at < lines.size();) {
    size_t end = lines.find('\n', at);
    std::string line = lines.substr(at, end == std::string::npos ? end : end - at);
    if (line.find("\"acked\":false") != std::string::npos && line.find("\"ackRequired\":true") != std::string::npos &&
        line.find("\"active\":true") != std::string::npos) {
      return line;
    }
    at = end == std::string::npos ? end : end + 1;
  }
  return {};
}

class DBusTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(bus_.Start(&error)) << error;
    ASSERT_EQ(0, Shell(kBin + "/regsvr /s " + kBin + "/libralto_config.so").rc);
    ASSERT_EQ(0, Shell(kBin + "/regsvr /s " + kBin + "/libralto_opc.so").rc);
    Result reg = Shell(kBin + "/aeserver -RegServer");
    ASSERT_EQ(0, reg.rc) << reg.out;
  }
  static Result Client(const std::string& args) { return Shell(kBin + "/aeclient " + args); }
  static Result Sim(const std::string& args) { return Shell(kBin + "/ralto-sim " + args); }
  // Until `done` holds for the result of `command` (polled every 100 ms).
  template <class Done>
  static Result Await(const std::string& command, Done done, int tries = 150) {
    Result r;
    for (int i = 0; i < tries; ++i) {
      r = Shell(command);
      if (done(r)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return r;
  }
  void EnableAckLog(const std::string& folder) {
    const std::string key = "\"HKLM\\SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Acknowledgment Log\"";
    ASSERT_EQ(0, Shell(kBin + "/aereg add " + key + " /v EnableACKLogging /t REG_DWORD /d 1 /f").rc);
    ASSERT_EQ(0, Shell(kBin + "/aereg add " + key + " /v \"Local Path\" /t REG_SZ /d " + folder + " /f").rc);
  }
  void RandomChanges(int perSecond) {
    Shell(kBin + "/aereg add \"HKLM\\SOFTWARE\\Ralto\\OPC Server\" /v RandomChangesPerSecond /t REG_DWORD /d " +
        std::to_string(perSecond) + " /f");
  }

  // The program started by hand, once it owns its bus name (so that no
  // client's call starts a second one).
  static pid_t StartServer() {
    pid_t server = Spawn(kBin + "/aeserver");
    for (int i = 0; i < 600; ++i) {
      if (Shell("dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                "org.freedesktop.DBus.NameHasOwner string:Corvane.OPCAEqrxServer._1")
              .out.find("boolean true") != std::string::npos) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return server;
  }

  CPrivateBus bus_;
};

TEST_F(DBusTest, FirstCallStartsTheServerAndTheLastClientEndsIt) {
  Result status = Client("status");
  ASSERT_EQ(0, status.rc) << status.out;
  EXPECT_NE(std::string::npos, status.out.find("state: running")) << status.out;
  EXPECT_NE(std::string::npos, status.out.find("vendor: Veltrocorp")) << status.out;
  // The client has gone, so the server that the bus started has ended too.
  Result again = Shell("sleep 2; dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                     "org.freedesktop.DBus.NameHasOwner string:Corvane.OPCAEqrxServer._1");
  EXPECT_NE(std::string::npos, again.out.find("boolean false")) << again.out;

  // Without a registration nothing answers: a clear error and its own code.
  ASSERT_EQ(0, Shell(kBin + "/aeserver -UnregServer").rc);
  Result gone = Client("status");
  EXPECT_EQ(3, gone.rc) << gone.out;
  EXPECT_NE(std::string::npos, gone.out.find("ServiceUnknown")) << gone.out;
}

TEST_F(DBusTest, EveryMethodFromPythonOwnersMalformedCallsAndTheServerKeepsServing) {
  Result py = Shell(std::string("/usr/bin/python3 ") + PYTHON_CLIENT);
  EXPECT_EQ(0, py.rc) << py.out;
  EXPECT_NE(std::string::npos, py.out.find("every method: ok")) << py.out;
  Result example = Shell(std::string("/usr/bin/python3 ") + EXAMPLE_CLIENT + " --seconds 2");
  EXPECT_EQ(0, example.rc) << example.out;
  EXPECT_NE(std::string::npos, example.out.find("server state 1")) << example.out;
}

TEST_F(DBusTest, AClientKilledReleasesItsObjectsAndAsLastClientEndsTheServer) {
  pid_t server = StartServer();
  // The subscriber comes once the server answers; one that gave up on a
  // server still starting (a loaded machine) is started again.
  bool up = false;
  for (int i = 0; i < 300 && !up; ++i) {
    up = Client("status").rc == 0;
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(up) << "the server never answered";
  pid_t subscriber = Spawn(kBin + "/aeclient subscribe");
  // The subscriber has its objects once a second client sees two clients
  // on the bus.
  bool both = false;
  for (int i = 0; i < 300 && !both; ++i) {
    both = Client("status").out.find("bus clients: 2") != std::string::npos;
    if (both) break;
    if (waitpid(subscriber, nullptr, WNOHANG) == subscriber) subscriber = Spawn(kBin + "/aeclient subscribe");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(both);
  kill(subscriber, SIGKILL);
  waitpid(subscriber, nullptr, 0);
  EXPECT_TRUE(WaitExit(server, 15'000)) << "the server outlived its last client";
  if (kill(server, 0) == 0) kill(server, SIGKILL), waitpid(server, nullptr, 0);
}

TEST_F(DBusTest, AlarmRoadSubscribeAckAndConditionState) {
  RandomChanges(40);
  const std::string logDir = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/AlarmLog";
  EnableAckLog(logDir);
  pid_t server = StartServer();
  // A client that holds the server while the others come and go.
  pid_t holder = Spawn(kBin + "/aeclient subscribe");
  Result events = Client("subscribe --json --count 5 --seconds 20");
  ASSERT_EQ(0, events.rc) << events.out;
  EXPECT_NE(std::string::npos, events.out.find("\"source\":")) << events.out;
  EXPECT_EQ(5, std::count(events.out.begin(), events.out.end(), '\n')) << events.out;
  // Counted, not printed: the tally lines alone, the last with the count
  // (events come in batches; those beyond --count are left out).
  Result tally = Client("subscribe --tally --count 3 --seconds 20");
  ASSERT_EQ(0, tally.rc) << tally.out;
  EXPECT_EQ(std::string::npos, tally.out.find(" sev ")) << tally.out;
  EXPECT_TRUE(tally.out.ends_with("events received: 3\n")) << tally.out;

  // An active alarm waiting for its acknowledgement, from a refresh.
  Result refresh;
  std::string line;
  for (int attempt = 0; attempt < 40 && line.empty(); ++attempt) {
    if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    refresh = Client("refresh --json --severity 500-1000");
    ASSERT_EQ(0, refresh.rc) << refresh.out;
    line = FirstUnacked(refresh.out);
  }
  ASSERT_FALSE(line.empty()) << refresh.out;
  auto field = [&](const char* name) {
    size_t at = line.find(std::string("\"") + name + "\":\"") + std::strlen(name) + 4;
    return line.substr(at, line.find('"', at) - at);
  };
  std::string source = field("source"), condition = field("condition");
  Result ack = Client("ack '" + source + "' '" + condition + "' --comment 'checked on site' --operator tester");
  EXPECT_EQ(0, ack.rc) << ack.out;
  EXPECT_NE(std::string::npos, ack.out.find("acknowledged")) << ack.out;
  Result state = Client("conditions '" + source + "'");
  EXPECT_NE(std::string::npos, state.out.find("by tester")) << state.out;
  // The controller took the acknowledgement word on ".FC", and the log
  // holds the record with that outcome.
  Result log;
  for (int i = 0; i < 100; ++i) {
    log = Shell(kBin + "/aelog list " + logDir);
    if (log.out.find("\ttester\tchecked on site\t") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(std::string::npos, log.out.find("\t" + condition + "\t")) << log.out;
  EXPECT_NE(std::string::npos, log.out.find("\ttester\tchecked on site\tSuccess\t")) << log.out;

  Result usage = Client("ack '" + source + "' '" + condition + "'");
  EXPECT_EQ(2, usage.rc);
  Result unknown = Client("conditions NoSuchSource");
  EXPECT_EQ(1, unknown.rc) << unknown.out;
  EXPECT_EQ(0, Client("disable --area Tank_Farm").rc);
  Result off = Client("enable-state --area Tank_Farm --area NoSuchArea");
  EXPECT_EQ(1, off.rc) << off.out;
  EXPECT_NE(std::string::npos, off.out.find("Tank_Farm disabled")) << off.out;
  EXPECT_NE(std::string::npos, off.out.find("NoSuchArea: unknown area")) << off.out;
  EXPECT_EQ(0, Client("enable --area Tank_Farm").rc);
  Result on = Client("enable-state --area Tank_Farm");
  EXPECT_EQ(0, on.rc) << on.out;
  EXPECT_NE(std::string::npos, on.out.find("Tank_Farm enabled\n")) << on.out;
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  kill(server, SIGTERM);
  if (!WaitExit(server, 10'000)) kill(server, SIGKILL), waitpid(server, nullptr, 0);
}

// An alarm raised by hand at the controller travels the whole road: to a
// client with the controller's time and message, its acknowledgement back
// to the controller's ".FC" word and into the log.
TEST_F(DBusTest, AlarmRaisedByHandReachesClientsAndItsAcknowledgementTheController) {
  const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
  EnableAckLog(runtime + "/AlarmLog");
  pid_t server = StartServer();
  // The plant's control is on the bus once the server has connected to it.
  Result plant = Await(kBin + "/ralto-sim blocks TANKFARM.LIC101", [](const Result& r) { return r.rc == 0; });
  ASSERT_EQ(0, plant.rc) << plant.out;
  EXPECT_NE(std::string::npos, plant.out.find("TANKFARM.LIC101.AS")) << plant.out;
  const std::string events = runtime + "/events.json";
  pid_t subscriber = Spawn(kBin + "/aeclient subscribe --json", events);
  Result both = Await(kBin + "/aeclient status",
                      [](const Result& r) { return r.out.find("bus clients: 2") != std::string::npos; });
  ASSERT_NE(std::string::npos, both.out.find("bus clients: 2")) << both.out;

  // The subscriber counts as a client before its subscription is made: an
  // alarm raised in between reaches nobody, so it is cleared and raised
  // again until the subscriber shows it.
  const std::string source = "Tank_Farm/T-101/TANKFARM_LIC101.A";
  std::string line;
  for (int attempt = 0; attempt < 10 && line.empty(); ++attempt) {
    if (attempt) {
      ASSERT_EQ(0, Sim("clear TANKFARM.LIC101").rc);
    }
    Result set = Sim("set TANKFARM.LIC101 hihi --time 2024-05-01T10:15:30");
    ASSERT_EQ(0, set.rc) << set.out;
    Await("cat " + events, [&](const Result& r) {
      for (size_t at = 0; at < r.out.size() && line.empty();) {
        size_t end = r.out.find('\n', at);
        if (end == std::string::npos) break;
        std::string candidate = r.out.substr(at, end - at);
        if (candidate.find("\"source\":\"" + source + "\"") != std::string::npos &&
            candidate.find("\"subcondition\":\"HiHi\"") != std::string::npos &&
            candidate.find("\"active\":true") != std::string::npos) {
          line = candidate;
        }
        at = end + 1;
      }
      return !line.empty();
    }, 20);
  }
  ASSERT_FALSE(line.empty()) << "no HiHi event of " << source;
  EXPECT_NE(std::string::npos, line.find("\"time\":\"2024-05-01 10:15:30.000\"")) << line;
  EXPECT_NE(std::string::npos, line.find("\"activeTime\":\"2024-05-01 10:15:30.000\"")) << line;
  EXPECT_NE(std::string::npos, line.find("\"message\":\"T-101 level 50.00 % HiHi\"")) << line;
  EXPECT_NE(std::string::npos, line.find("\"acked\":false")) << line;

  Result ack = Client("ack '" + source + "' Level --comment 'by hand' --operator tester");
  ASSERT_EQ(0, ack.rc) << ack.out;
  // The acknowledgement word of the level alarm: flags (1) x 256 + 1.
  Result writes = Await(kBin + "/ralto-sim fc-writes --json", [](const Result& r) { return !r.out.empty(); });
  EXPECT_NE(std::string::npos, writes.out.find("\"item\":\"TANKFARM.LIC101.FC\",\"value\":257,")) << writes.out;
  Result acked = Sim("blocks TANKFARM.LIC101 --json");
  EXPECT_NE(std::string::npos, acked.out.find("\"state\":\"hihi\",\"stateCode\":4,\"acked\":true")) << acked.out;
  Result log = Await(kBin + "/aelog list " + runtime + "/AlarmLog", [](const Result& r) {
    return r.out.find("\ttester\tby hand\t") != std::string::npos;
  });
  EXPECT_NE(std::string::npos, log.out.find("\tLIC101.AS\tLevel\tHiHi\ttester\tby hand\tSuccess\t")) << log.out;

  kill(subscriber, SIGKILL);
  waitpid(subscriber, nullptr, 0);
  kill(server, SIGTERM);
  if (!WaitExit(server, 10'000)) kill(server, SIGKILL), waitpid(server, nullptr, 0);
}

}  // namespace
