// The transport's insides: the exported objects, the outboxes of the
// clients, the bus thread. Internal to toolkit/dbus.
//
// Threads: the bus thread alone touches the connection and the exported
// objects (after Start and before Stop's join); the toolkit's delivery
// threads only append to outboxes (under the outbox's lock) and wake the
// bus thread through an eventfd.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/dbus/dbus_adaptors.h"
#include "toolkit/dbus/dbus_transport.h"
#include "toolkit/opcae.h"

namespace aedbus {

// What waits for one client: OnEvent batches and shutdown notices, in order.
struct COutbox {
  struct Item {
    std::string path;
    bool shutdown = false;
    OPCHANDLE handle = 0;
    BOOL refresh = false;
    BOOL lastRefresh = false;
    std::vector<ONEVENTSTRUCT> events;
    std::string reason;
  };
  COutbox(std::string owner, int wakeFd) : owner(std::move(owner)), wakeFd(wakeFd) {}
  // Appends unless the events would pass the limit (then counts them).
  void Post(Item item);

  const std::string owner;
  const int wakeFd;
  std::mutex mutex;
  std::deque<Item> items;
  size_t queuedEvents = 0;
  uint64_t dropped = 0;
  // Bus thread only: events handed to the bus that the client has not
  // been seen to read yet.
  uint64_t unconfirmed = 0;
};

// The bus thread's check that a client reads: a Peer.Ping, answered once
// the client has read every signal sent to it before.
struct CPeer {
  std::shared_ptr<COutbox> outbox;
  std::unique_ptr<sdbus::IProxy> proxy;
  bool pinging = false;
};

}  // namespace aedbus

class CAEDBusTransport::Impl final : private aedbus::CAdaptorHost {
 public:
  AeDBusStart Start(const CLSID& clsid, const std::string& progId, AeDBusBus bus, std::string* error);
  void Stop();
  Stats GetStats() const;

 private:
  void Run();
  // Sends what the outboxes hold; true when anything was sent.
  bool SendQueued();
  void SendItem(aedbus::COutbox& box, aedbus::COutbox::Item& item);
  void Ping(const std::string& owner, aedbus::CPeer& peer);
  void SendSignal(sdbus::IObject& object, const std::string& owner, aedbus::COutbox::Item& item);
  void FlushBus(int limitMs);

  std::shared_ptr<aedbus::COutbox> OutboxFor(const std::string& owner);
  void OnNameOwnerChanged(sdbus::Message& msg);
  // Releases the objects of `owner` (all of them when empty).
  void ReleaseObjects(const std::string& owner);
  void ReleaseObject(std::unique_ptr<aedbus::CExported> object);

  // aedbus::CAdaptorHost: Export registers the object's interfaces (its
  // methods and signals) on the bus and makes it live.
  std::string Export(std::unique_ptr<aedbus::CExported> object) override;
  std::string NewPath(const char* prefix) override;
  void Retire(const aedbus::CExported& object) override;
  HRESULT AdviseSink(aedbus::CExported& object, DWORD* cookie) override;

  // Checks the caller against the object's owner, runs the handler and
  // sends its reply, or the error that carries its HRESULT.
  void Dispatch(const std::string& path, sdbus::MethodCall& call, const aedbus::Handler& handler);
  void AddServerClass();

  CLSID clsid_{};
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IObject> serverClass_;
  sdbus::Slot nameWatch_;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  std::map<std::string, std::unique_ptr<aedbus::CExported>> objects_;  // by path; bus thread
  std::map<std::string, aedbus::CPeer> peers_;                         // by owner; bus thread
  // Released by their client during a call: they go after the call, since
  // an object may not be destroyed from inside its own method handler.
  std::vector<std::unique_ptr<aedbus::CExported>> retired_;
  uint64_t nextId_ = 1;

  mutable std::mutex outboxMutex_;
  std::map<std::string, std::shared_ptr<aedbus::COutbox>> outboxes_;  // by owner
  std::atomic<uint64_t> signalsSent_{0};
  std::atomic<uint64_t> eventsSent_{0};
  std::atomic<uint64_t> droppedOfGone_{0};  // of outboxes no longer listed
};
