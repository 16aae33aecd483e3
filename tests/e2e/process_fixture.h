// The whole program under faults: each test runs the real aeserver,
// headless, on a copy of the example plant, with a session bus and a
// registry store of its own (the test main's sandbox), and reaches it as
// other processes do: OPC AE clients over the bus (in the test, through the
// client library that aeclient uses) and the build's tools.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "server_process.h"
#include "tests/support/private_bus.h"
#include "tests/support/run_program.h"
#include "toolkit/dbus/dbus_client.h"

inline constexpr char kServerProgId[] = "Corvane.OPCAEqrxServer.1";
inline constexpr char kServerBusName[] = "Corvane.OPCAEqrxServer._1";
inline constexpr char kConnectedText[] = "Connected";
inline constexpr char kNotConnectedText[] = "Not Connected";

// The settings the server starts with.
struct ServerSettings {
  unsigned updateRateMs = 100;       // the OPC group's update rate
  unsigned bindingRateMs = 60000;    // how often the configuration is imported again
  unsigned randomChangesPerSecond = 0;
};

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes the registry settings; called by SetUp with the defaults, and by
  // a test before its first start to change them.
  void Configure(const ServerSettings& settings);

  // Starts the program and waits until it serves: its bus name is owned
  // and its status line says "Connected".
  void StartServer();
  // A status line that starts with `text` (a state) is printed within
  // `limit`, counting the lines since the latest start from byte `from` on.
  bool AwaitStatus(const std::string& text, std::chrono::milliseconds limit, size_t from = 0);

  // A client of the running server (its event server object made); fails
  // the test when none comes.
  std::unique_ptr<CAEDBusClient> Client();
  // One of the build's tools, with its output.
  static ProgramResult Tool(const std::string& name, std::vector<std::string> args);

  std::string plantDir_;
  std::string logDir_;
  std::string journalPath_;
  std::unique_ptr<CServerProcess> server_;

 private:
  CPrivateBus bus_;
};
