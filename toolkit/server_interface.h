// The server program's handle on the toolkit (g_ServerInterface): start and
// stop, COM registration, the callback object, status, trace, statistics
// and client shutdown.
//
// Contract: Initialize/Uninitialize and RegisterServer/UnregisterServer come
// from the program's main thread; everything else may be called from any
// thread. Client objects exist only between Initialize and Uninitialize;
// condition events are delivered only while the toolkit is initialized.
// No method holds a toolkit lock while it calls a client or the callback.
#pragma once

#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/com.h"
#include "platform/variant.h"

class CAEServerCallback;

// The COM registration data that RegisterServer writes. An empty
// localServerPath means the running program; an empty versionIndependentProgId
// or appIdRunAs is left out.
struct CAEServerRegistration {
  std::string progId;
  std::string versionIndependentProgId;
  std::string description;
  std::string localServerPath;
  std::string appIdRunAs;
};

class CAEServerInterface {
 public:
  CAEServerInterface() = default;
  ~CAEServerInterface();
  CAEServerInterface(const CAEServerInterface&) = delete;
  CAEServerInterface& operator=(const CAEServerInterface&) = delete;

  // Registers the class factory of the event server object for `clsid` (so
  // CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
  // IID_IOPCEventServer, ...) creates one) and starts the delivery thread.
  // `instance` and `flag` are reserved (pass the module handle and 0).
  // Nonzero when ready; 0 when already initialized, for a NUL delimiter, or
  // when the factory cannot be registered.
  int Initialize(void* instance, const CLSID& clsid, const std::string& vendor, char areaDelimiter, int flag,
                 const CAEServerRegistration* registration = nullptr);
  // The registration entries (toolkit/registrar.h). E_UNEXPECTED without
  // Initialize or without registration data.
  HRESULT RegisterServer();
  HRESULT UnregisterServer();

  // Not owned; it must outlive its use. Null restores the toolkit's own.
  void SetCallbackObject(CAEServerCallback* callback);
  // The clock the toolkit measures with: buffer times, keep-alives, the
  // statistics period and the times it stamps as now. Not owned; it must
  // outlive its use. Null restores the system clock. Whoever moves a
  // hand-driven clock calls TimeChanged, which delivers what became due.
  void SetClock(ae::Clock* clock);
  void TimeChanged();
  // The OPCEVENTSERVERSTATE that GetStatus reports (running after Initialize).
  void SetStatus(DWORD state);
  // level 0 (off) to 5 (everything); toFile nonzero writes to `file`, kept
  // below maxBytes by truncation. E_INVALIDARG / E_FAIL as CAETrace says.
  HRESULT SetTraceInfo(int level, int toFile, const std::string& file, DWORD maxBytes);
  // Every client call traced (with its result) while on.
  void EnableCOMCallTracing(BOOL enable);
  // VT_I4: 0 sample period (ms), 1 event server objects, 2 subscriptions,
  // 3 area browsers, 4 events generated, 5 client notifications (OnEvent
  // calls), 6 events generated in the last complete sample period.
  // E_INVALIDARG for another index.
  HRESULT GetStatistic(int index, VARIANT* value);
  // Takes effect at once (a new period starts).
  void SetStatsSamplePeriod(DWORD ms);
  // Nonzero while any event server object lives.
  BOOL IsServerInUse();
  // ShutdownRequest(reason) on every client's IOPCShutdown sink.
  HRESULT RequestDisconnect(const std::string& reason);
  // On: SetFilter refuses (E_INVALIDARG) names that the callback's
  // ValidateSourceNames / ValidateAreaNames reject. Off (default): names
  // are taken as given.
  void ValidateSourcesInSetFilter(BOOL validate);
  void ValidateAreasInSetFilter(BOOL validate);
  // Revokes the class factory and stops delivery. Safe to call twice.
  void Uninitialize();

 private:
  std::mutex mutex_;
  bool initialized_ = false;
  CLSID clsid_;
  bool hasRegistration_ = false;
  CAEServerRegistration registration_;
  DWORD factoryCookie_ = 0;
};

extern CAEServerInterface g_ServerInterface;
