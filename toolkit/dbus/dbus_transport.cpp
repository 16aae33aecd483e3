#include "toolkit/dbus/dbus_transport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

#include "toolkit/dbus/dbus_names.h"
#include "toolkit/dbus/dbus_transport_impl.h"
#include "toolkit/dbus/dbus_wire.h"

using aedbus::CExported;
using aedbus::COutbox;
using aedbus::CPeer;

namespace {

constexpr char kPeerInterface[] = "org.freedesktop.DBus.Peer";
constexpr char kPingMethod[] = "Ping";
constexpr char kRootPath[] = "/";
constexpr char kNoReplyError[] = "org.freedesktop.DBus.Error.NoReply";
constexpr char kUnknownObjectError[] = "org.freedesktop.DBus.Error.UnknownObject";
constexpr char kInvalidArgsError[] = "org.freedesktop.DBus.Error.InvalidArgs";
// A client that does not answer within this long is asked again.
constexpr uint64_t kPingTimeoutUs = 5'000'000;

std::string CodeText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

void Wake(int fd) {
  uint64_t one = 1;
  (void)!write(fd, &one, sizeof one);
}

// The client's sink on a subscription, or its IOPCShutdown sink: turns the
// call into an outbox item for the bus thread.
class CSinkProxy final : public IOPCEventSink, public IOPCShutdown {
 public:
  CSinkProxy(std::shared_ptr<COutbox> outbox, std::string path) : outbox_(std::move(outbox)), path_(std::move(path)) {}

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IOPCEventSink) {
      *object = static_cast<IOPCEventSink*>(this);
    } else if (iid == IID_IOPCShutdown) {
      *object = static_cast<IOPCShutdown*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT OnEvent(OPCHANDLE handle, BOOL refresh, BOOL lastRefresh, DWORD count,
                  const ONEVENTSTRUCT* events) override {
    COutbox::Item item;
    item.path = path_;
    item.handle = handle;
    item.refresh = refresh;
    item.lastRefresh = lastRefresh;
    item.events.assign(events, events + count);
    outbox_->Post(std::move(item));
    return S_OK;
  }
  HRESULT ShutdownRequest(const std::string& reason) override {
    COutbox::Item item;
    item.path = path_;
    item.shutdown = true;
    item.reason = reason;
    outbox_->Post(std::move(item));
    return S_OK;
  }

 private:
  ComRefCount refs_;
  std::shared_ptr<COutbox> outbox_;
  std::string path_;
};

}  // namespace

void COutbox::Post(Item item) {
  {
    std::lock_guard lock(mutex);
    // Shutdown notices always go; a refresh's last batch is an event batch.
    if (!item.shutdown && queuedEvents + item.events.size() > CAEDBusTransport::kOutboxLimit) {
      dropped += item.events.size();
      return;
    }
    queuedEvents += item.events.size();
    items.push_back(std::move(item));
  }
  Wake(wakeFd);
}

CAEDBusTransport::CAEDBusTransport() : impl_(std::make_unique<Impl>()) {}
CAEDBusTransport::~CAEDBusTransport() { Stop(); }

AeDBusStart CAEDBusTransport::Start(const CLSID& clsid, const std::string& progId, AeDBusBus bus,
                                    std::string* error) {
  return impl_->Start(clsid, progId, bus, error);
}
void CAEDBusTransport::Stop() { impl_->Stop(); }
CAEDBusTransport::Stats CAEDBusTransport::GetStats() const { return impl_->GetStats(); }

AeDBusStart CAEDBusTransport::Impl::Start(const CLSID& clsid, const std::string& progId, AeDBusBus bus,
                                          std::string* error) {
  if (connection_) return AeDBusStart::kAlreadyStarted;
  clsid_ = clsid;
  std::string name = aedbus::BusNameFromProgId(progId);
  try {
    connection_ = bus == AeDBusBus::kSystem ? sdbus::createSystemBusConnection() : sdbus::createSessionBusConnection();
  } catch (const sdbus::Error& e) {
    if (error) *error = e.getMessage();
    return AeDBusStart::kNoBus;
  }
  try {
    nameWatch_ = connection_->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
        [this](sdbus::Message& msg) { OnNameOwnerChanged(msg); });
    AddServerClass();
    connection_->requestName(name);
  } catch (const sdbus::Error& e) {
    if (error) *error = name + ": " + e.getMessage();
    serverClass_.reset();
    nameWatch_.reset();
    connection_.reset();
    return AeDBusStart::kNameTaken;
  }
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return AeDBusStart::kStarted;
}

void CAEDBusTransport::Impl::Stop() {
  if (!connection_) return;
  stop_ = true;
  Wake(wakeFd_);
  if (thread_.joinable()) thread_.join();
  // The bus thread has ended: this thread owns the connection now.
  ReleaseObjects("");
  serverClass_.reset();
  nameWatch_.reset();
  connection_.reset();
  {
    std::lock_guard lock(outboxMutex_);
    outboxes_.clear();
  }
  close(wakeFd_);
  wakeFd_ = -1;
}

CAEDBusTransport::Stats CAEDBusTransport::Impl::GetStats() const {
  Stats stats;
  stats.signalsSent = signalsSent_;
  stats.eventsSent = eventsSent_;
  stats.eventsDropped = droppedOfGone_;
  std::lock_guard lock(outboxMutex_);
  stats.clients = static_cast<uint32_t>(outboxes_.size());
  for (const auto& [owner, box] : outboxes_) {
    std::lock_guard boxLock(box->mutex);
    stats.eventsDropped += box->dropped;
  }
  return stats;
}

void CAEDBusTransport::Impl::Run() {
  while (!stop_) {
    try {
      bool busy = SendQueued();
      while (connection_->processPendingRequest()) busy = true;
      for (auto& object : std::exchange(retired_, {})) ReleaseObject(std::move(object));
      if (busy) continue;
      auto poll = connection_->getEventLoopPollData();
      int timeout = -1;
      if (poll.timeout_usec != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t nowUs = uint64_t(now.tv_sec) * 1'000'000 + uint64_t(now.tv_nsec) / 1000;
        timeout = poll.timeout_usec <= nowUs ? 0 : static_cast<int>((poll.timeout_usec - nowUs + 999) / 1000);
      }
      pollfd fds[2] = {{poll.fd, poll.events, 0}, {wakeFd_, POLLIN, 0}};
      ::poll(fds, 2, timeout);
      if (fds[1].revents & POLLIN) {
        uint64_t count;
        (void)!read(wakeFd_, &count, sizeof count);
      }
    } catch (const sdbus::Error&) {
      // The connection broke (the bus went away): nothing more can be served.
      break;
    }
  }
  // What is queued (a shutdown notice above all) still goes out.
  try {
    SendQueued();
    FlushBus(500);
  } catch (const sdbus::Error&) {
  }
}

void CAEDBusTransport::Impl::FlushBus(int limitMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    while (connection_->processPendingRequest()) {
    }
    auto poll = connection_->getEventLoopPollData();
    if (!(poll.events & POLLOUT)) return;
    pollfd fd{poll.fd, POLLOUT, 0};
    ::poll(&fd, 1, 20);
  }
}

bool CAEDBusTransport::Impl::SendQueued() {
  bool sent = false;
  for (auto& [owner, peer] : peers_) {
    COutbox& box = *peer.outbox;
    std::deque<COutbox::Item> items;
    bool held;
    {
      std::lock_guard lock(box.mutex);
      // What the client has not read yet bounds what goes on; one batch
      // always may, however large.
      while (!box.items.empty()) {
        size_t n = box.items.front().events.size();
        if (box.unconfirmed > 0 && box.unconfirmed + n > kInFlightLimit) break;
        box.unconfirmed += n;
        box.queuedEvents -= n;
        items.push_back(std::move(box.items.front()));
        box.items.pop_front();
      }
      held = !box.items.empty();
    }
    for (auto& item : items) {
      SendItem(box, item);
      sent = true;
    }
    // Held back, a batch waits for the answer however little is unread.
    if (!peer.pinging && box.unconfirmed > 0 && (box.unconfirmed >= kPingAfter || held)) Ping(owner, peer);
  }
  return sent;
}

void CAEDBusTransport::Impl::Ping(const std::string& owner, CPeer& peer) {
  if (!peer.proxy) peer.proxy = sdbus::createProxy(*connection_, owner, kRootPath);
  auto call = peer.proxy->createMethodCall(kPeerInterface, kPingMethod);
  const uint64_t covered = peer.outbox->unconfirmed;
  peer.pinging = true;
  peer.proxy->callMethod(
      call,
      [this, owner, covered](sdbus::MethodReply&, const sdbus::Error* error) {
        auto it = peers_.find(owner);
        if (it == peers_.end()) return;
        it->second.pinging = false;
        // Any answer, an error too, comes after the client read what was
        // sent before; no answer in time is no news: ask again.
        if (!error || error->getName() != kNoReplyError) it->second.outbox->unconfirmed -= covered;
        Wake(wakeFd_);
      },
      kPingTimeoutUs);
}

void CAEDBusTransport::Impl::SendItem(COutbox& box, COutbox::Item& item) {
  auto it = objects_.find(item.path);
  if (it == objects_.end()) return;  // released meanwhile
  sdbus::IObject& object = *it->second->object;
  try {
    SendSignal(object, box.owner, item);
  } catch (const sdbus::Error&) {
    // Not queued by the bus library (its write queue is full, or the
    // client went): lost, and counted as such.
    std::lock_guard lock(box.mutex);
    box.dropped += item.events.size();
  }
}

void CAEDBusTransport::Impl::SendSignal(sdbus::IObject& object, const std::string& owner, COutbox::Item& item) {
  if (item.shutdown) {
    auto signal = object.createSignal(aedbus::kShutdownInterface, aedbus::kShutdownSignal);
    signal.setDestination(owner);
    signal << item.reason;
    object.emitSignal(signal);
  } else {
    auto signal = object.createSignal(aedbus::kSinkInterface, aedbus::kOnEventSignal);
    signal.setDestination(owner);
    signal << item.handle << (item.refresh != 0) << (item.lastRefresh != 0);
    aedbus::Write(signal, item.events.data(), item.events.size());
    object.emitSignal(signal);
    eventsSent_ += item.events.size();
  }
  ++signalsSent_;
}

std::shared_ptr<COutbox> CAEDBusTransport::Impl::OutboxFor(const std::string& owner) {
  std::shared_ptr<COutbox> made;
  {
    std::lock_guard lock(outboxMutex_);
    auto& box = outboxes_[owner];
    if (box) return box;
    made = box = std::make_shared<COutbox>(owner, wakeFd_);
  }
  peers_[owner].outbox = made;
  return made;
}

void CAEDBusTransport::Impl::OnNameOwnerChanged(sdbus::Message& msg) {
  std::string name, oldOwner, newOwner;
  msg >> name >> oldOwner >> newOwner;
  if (name.empty() || name[0] != ':' || !newOwner.empty()) return;
  ReleaseObjects(name);
}

void CAEDBusTransport::Impl::ReleaseObjects(const std::string& owner) {
  // Subscriptions and browsers first; the event server objects they
  // reference go last, so that OnClientDisconnect ends the client's life.
  std::vector<std::unique_ptr<CExported>> gone;
  for (auto it = objects_.begin(); it != objects_.end();) {
    if (owner.empty() || it->second->owner == owner) {
      gone.push_back(std::move(it->second));
      it = objects_.erase(it);
    } else {
      ++it;
    }
  }
  std::stable_partition(gone.begin(), gone.end(),
                        [](const auto& o) { return o->kind != CExported::Kind::kEventServer; });
  for (auto& object : gone) ReleaseObject(std::move(object));
  for (auto it = peers_.begin(); it != peers_.end();) {
    it = owner.empty() || it->first == owner ? peers_.erase(it) : std::next(it);
  }
  {
    std::lock_guard lock(outboxMutex_);
    for (auto it = outboxes_.begin(); it != outboxes_.end();) {
      if (owner.empty() || it->first == owner) {
        // Its last reference may be this one: it goes after its lock.
        std::shared_ptr<COutbox> box = it->second;
        {
          std::lock_guard boxLock(box->mutex);
          droppedOfGone_ += box->dropped;
        }
        it = outboxes_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void CAEDBusTransport::Impl::ReleaseObject(std::unique_ptr<CExported> object) {
  object->object.reset();
  if (object->point) {
    for (DWORD cookie : object->cookies) object->point->Unadvise(cookie);
  }
  // The COM references go now: for the last of an event server object the
  // callback's OnClientDisconnect runs here, on the bus thread.
  object.reset();
}

void CAEDBusTransport::Impl::Dispatch(const std::string& path, sdbus::MethodCall& call,
                                      const aedbus::Handler& handler) {
  auto it = objects_.find(path);
  if (it == objects_.end() || !it->second) throw sdbus::Error(kUnknownObjectError, "No such object " + path);
  if (call.getSender() != it->second->owner) {
    throw sdbus::Error(aedbus::ErrorName(E_ACCESSDENIED), CodeText(E_ACCESSDENIED) + " " + path +
                                                             " belongs to another client");
  }
  auto reply = call.createReply();
  HRESULT hr = E_FAIL;
  try {
    hr = handler(*it->second, call, reply);
  } catch (const sdbus::Error& e) {
    throw sdbus::Error(kInvalidArgsError, e.getMessage());
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) throw sdbus::Error(aedbus::ErrorName(hr), CodeText(hr));
  reply.send();
}

std::string CAEDBusTransport::Impl::Export(std::unique_ptr<CExported> exported) {
  std::string path = exported->path;
  exported->object = sdbus::createObject(*connection_, path);
  sdbus::IObject& object = *exported->object;
  CExported::Kind kind = exported->kind;
  objects_[path] = std::move(exported);
  for (aedbus::CMethod& method : aedbus::MethodsOf(kind, *this)) {
    object.registerMethod(method.interface, method.name, method.inSignature, method.outSignature,
                          [this, path, handler = std::move(method.handler)](sdbus::MethodCall call) {
                            Dispatch(path, call, handler);
                          });
  }
  if (kind == CExported::Kind::kEventServer) {
    object.registerSignal(aedbus::kShutdownInterface, aedbus::kShutdownSignal, "s");
  } else if (kind == CExported::Kind::kSubscription) {
    object.registerSignal(aedbus::kSinkInterface, aedbus::kOnEventSignal,
                          std::string("ubb") + "a" + aedbus::kEventArraySignature);
  }
  object.finishRegistration();
  return path;
}

std::string CAEDBusTransport::Impl::NewPath(const char* prefix) { return prefix + std::to_string(nextId_++); }

void CAEDBusTransport::Impl::Retire(const CExported& object) {
  auto it = objects_.find(object.path);
  retired_.push_back(std::move(it->second));
  objects_.erase(it);
}

void CAEDBusTransport::Impl::AddServerClass() {
  serverClass_ = sdbus::createObject(*connection_, aedbus::kServerPath);
  serverClass_->registerMethod(aedbus::kServerClassInterface, "CreateInstance", "", "io", [this](sdbus::MethodCall call) {
    std::string path;
    HRESULT hr = aedbus::CreateEventServerObject(clsid_, call.getSender(), *this, &path);
    if (FAILED(hr)) throw sdbus::Error(aedbus::ErrorName(hr), CodeText(hr));
    auto reply = call.createReply();
    reply << hr << sdbus::ObjectPath(path);
    reply.send();
  });
  serverClass_->registerMethod(aedbus::kServerClassInterface, "GetTransportStatistics", "", "iutttt",
                               [this](sdbus::MethodCall call) {
                                 Stats stats = GetStats();
                                 uint64_t mine = 0;
                                 {
                                   std::lock_guard lock(outboxMutex_);
                                   auto it = outboxes_.find(call.getSender());
                                   if (it != outboxes_.end()) {
                                     std::lock_guard boxLock(it->second->mutex);
                                     mine = it->second->dropped;
                                   }
                                 }
                                 auto reply = call.createReply();
                                 reply << S_OK << stats.clients << stats.signalsSent << stats.eventsSent
                                       << stats.eventsDropped << mine;
                                 reply.send();
                               });
  serverClass_->finishRegistration();
}

HRESULT CAEDBusTransport::Impl::AdviseSink(CExported& object, DWORD* cookie) {
  if (!object.point) return E_NOINTERFACE;
  auto* sink = new CSinkProxy(OutboxFor(object.owner), object.path);
  HRESULT hr = object.point->Advise(static_cast<IOPCEventSink*>(sink), cookie);
  sink->Release();
  return hr;
}
