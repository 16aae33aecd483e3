// CRaltoControlBus: the process's control of the simulated plant on the
// session bus (ralto/opc_control_bus.h), object kRaltoControlPath, served
// on a thread of its own.
//
// Contract: Start tries once per load of the library (the first server
// object calls it); later calls do nothing, and a failure is reported once
// with DebugOutput. The bus thread calls only the thread-safe members of
// the plant and the fault table and sends each reply after they have
// returned, so it never sends while holding a lock of theirs. The
// destructor (the library's teardown, at dlclose or process exit) ends the
// thread and releases the name; the plant and the fault table, made before
// this object, outlive it. Thread-safe.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace sdbus {
class IConnection;
class IObject;
class MethodCall;
class MethodReply;
}  // namespace sdbus

class CRaltoControlBus {
 public:
  static CRaltoControlBus& Instance();

  CRaltoControlBus(const CRaltoControlBus&) = delete;
  CRaltoControlBus& operator=(const CRaltoControlBus&) = delete;
  ~CRaltoControlBus();

  void Start();

 private:
  using Handler = std::function<void(sdbus::MethodCall&, sdbus::MethodReply&)>;

  CRaltoControlBus() = default;
  void Stop();
  void Run();
  void AddMethod(const char* name, const char* in, const char* out, Handler handler);
  void AddMethods();

  std::mutex mutex_;  // Start and Stop
  bool tried_ = false;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IObject> object_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
