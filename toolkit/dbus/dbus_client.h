// CAEDBusClient: one OPC AE client of the server over D-Bus, for tools in
// other processes. It owns one event server object (created on the first
// call that needs it, which starts the server through activation), at most
// one area browser and one subscription with its sink advised.
//
// Contract: not thread-safe; one thread makes the calls and runs Pump,
// which delivers the subscription's batches to the handler on that thread.
// Every call answers the server's HRESULT; a D-Bus error that carries no
// HRESULT (no server, a broken connection) is E_FAIL, and LastError() then
// holds the bus's text. The client's objects go when it is destroyed (or
// when its process ends: the server releases them on its own).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/dbus/dbus_transport.h"
#include "toolkit/opcae.h"

class CAEDBusClient {
 public:
  using EventHandler = std::function<void(BOOL refresh, BOOL lastRefresh, const std::vector<ONEVENTSTRUCT>& events)>;
  using ShutdownHandler = std::function<void(const std::string& reason)>;

  struct Filter {
    DWORD eventType = OPC_ALL_EVENTS;
    std::vector<DWORD> categories;
    DWORD lowSeverity = 1;
    DWORD highSeverity = 1000;
    std::vector<std::string> areas;
    std::vector<std::string> sources;
  };

  // Null, with *error, when the bus cannot be reached.
  static std::unique_ptr<CAEDBusClient> Connect(const std::string& progId, AeDBusBus bus, std::string* error);
  ~CAEDBusClient();
  CAEDBusClient(const CAEDBusClient&) = delete;
  CAEDBusClient& operator=(const CAEDBusClient&) = delete;

  const std::string& LastError() const;

  HRESULT GetStatus(OPCEVENTSERVERSTATUS* status);
  HRESULT QueryEventCategories(DWORD eventType, std::vector<DWORD>* ids, std::vector<std::string>* texts);
  // The browser's position moves to `area` (a qualified name; "" is the
  // root) first, then lists the areas or sources there that match filter.
  HRESULT Browse(const std::string& area, OPCAEBROWSETYPE type, const std::string& filter,
                 std::vector<std::string>* names);
  HRESULT GetQualifiedSourceName(const std::string& area, const std::string& source, std::string* qualified);
  HRESULT QuerySourceConditions(const std::string& source, std::vector<std::string>* names);
  HRESULT GetConditionState(const std::string& source, const std::string& condition, OPCCONDITIONSTATE* state);
  HRESULT AckCondition(const std::string& acknowledger, const std::string& comment, const std::string& source,
                       const std::string& condition, FILETIME activeTime, DWORD cookie, HRESULT* error);
  HRESULT ChangeEnabled(bool enable, bool byArea, const std::vector<std::string>& names);
  // Per name: its own setting, whether it and every area above it are
  // enabled, and its code (E_INVALIDARG for an unknown name).
  HRESULT GetEnableState(bool byArea, const std::vector<std::string>& names, std::vector<bool>* enabled,
                         std::vector<bool>* effective, std::vector<HRESULT>* errors);
  HRESULT GetTransportStatistics(CAEDBusTransport::Stats* stats, uint64_t* droppedForMe);

  // Creates the subscription with this filter and advises the handler.
  HRESULT Subscribe(DWORD bufferTime, DWORD maxSize, const Filter& filter, EventHandler handler);
  HRESULT Refresh();
  void OnShutdown(ShutdownHandler handler);
  // Dispatches arriving messages for up to timeoutMs (0: what is there);
  // false when the connection broke.
  bool Pump(int timeoutMs);

 private:
  class Impl;
  explicit CAEDBusClient(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};
