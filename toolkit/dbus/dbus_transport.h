// CAEDBusTransport: the toolkit's OPC AE objects for other processes, on
// the session bus (or the system bus). It owns the bus name derived from
// the ProgID (aedbus::BusNameFromProgId) and the server class object
// /Server; each event server object, subscription and area browser that a
// client creates becomes a D-Bus object owned by the client's unique name.
// docs/dbus.md describes the objects, interfaces and error names.
//
// Contract: Start after the toolkit is initialised, Stop before it is
// uninitialised, both from one thread (the program's main thread). Start
// answers kNoBus when no bus can be reached and kNameTaken when another
// process owns the name (nothing started; *error says why). Calls are
// served and events and shutdown notices sent on the transport's own
// thread, which never holds a toolkit lock while it sends. Events wait in a
// queue per client of at most kOutboxLimit events; beyond it they are
// dropped and counted (Stats, and ServerClass.GetTransportStatistics). At
// most kInFlightLimit events of a client are on the bus unread: each
// kPingAfter events sent, an org.freedesktop.DBus.Peer.Ping to the client
// comes back once it has read them, so a client that stops reading fills
// its own queue, not the bus daemon's memory, and never delays another. A
// client whose connection goes loses all its objects. Stop flushes what is
// queued, then releases every client's objects (the callback's
// OnClientDisconnect follows for each event server object).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com.h"

enum class AeDBusBus { kSession, kSystem };
enum class AeDBusStart { kStarted, kNoBus, kNameTaken, kAlreadyStarted };

class CAEDBusTransport {
 public:
  static constexpr size_t kOutboxLimit = 200'000;
  static constexpr size_t kInFlightLimit = 20'000;
  static constexpr size_t kPingAfter = kInFlightLimit / 4;

  struct Stats {
    uint32_t clients = 0;        // unique names owning objects
    uint64_t signalsSent = 0;    // OnEvent and ShutdownRequest signals
    uint64_t eventsSent = 0;
    uint64_t eventsDropped = 0;  // queue full
  };

  CAEDBusTransport();
  ~CAEDBusTransport();  // Stop
  CAEDBusTransport(const CAEDBusTransport&) = delete;
  CAEDBusTransport& operator=(const CAEDBusTransport&) = delete;

  // Event server objects are created as CoCreateInstance(clsid) does.
  AeDBusStart Start(const CLSID& clsid, const std::string& progId, AeDBusBus bus, std::string* error);
  void Stop();
  Stats GetStats() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};
