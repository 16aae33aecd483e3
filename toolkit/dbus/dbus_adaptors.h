// The D-Bus side of each OPC AE interface: for each kind of object that a
// client creates, the table of its methods, one per interface method with
// the standard's arguments in its order and the HRESULT first among the
// outputs. A handler turns a call's arguments into the OPC AE call and its
// results into the reply; it touches no bus, so the transport registers the
// tables on its bus objects and a test may drive them with messages of its
// own.
//
// Contract: a handler reads its arguments from `args` (the method call, or
// any sealed and rewound message holding the method's input signature),
// writes the HRESULT and the outputs into `reply` when the call succeeded,
// and answers the HRESULT. An array argument of more than
// kMaxArrayElements elements answers E_INVALIDARG without an OPC AE call;
// an sdbus::Error (a message that does not hold the arguments) passes
// through. Handlers of one host run on one thread at a time (the
// transport's bus thread). Internal to the transport.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/connection_point.h"
#include "toolkit/opcae.h"

namespace aedbus {

// One object that a client created.
struct CExported {
  enum class Kind { kEventServer, kSubscription, kAreaBrowser };
  Kind kind;
  std::string owner;
  std::string path;
  std::unique_ptr<sdbus::IObject> object;  // none until the transport exports it
  ComPtr<IOPCEventServer> server;
  ComPtr<IOPCEventServer2> server2;
  ComPtr<IOPCCommon> common;
  ComPtr<IOPCEventSubscriptionMgt> subscription;
  ComPtr<IOPCEventSubscriptionMgt2> subscription2;
  ComPtr<IOPCEventAreaBrowser> browser;
  ComPtr<IConnectionPoint> point;  // IOPCShutdown or IOPCEventSink
  std::vector<DWORD> cookies;      // sinks of ours advised on point
};

using Handler = std::function<HRESULT(CExported& object, sdbus::Message& args, sdbus::Message& reply)>;

struct CMethod {
  const char* interface;
  const char* name;
  const char* inSignature;
  const char* outSignature;
  Handler handler;
};

// What the handlers need of whoever serves their objects.
class CAdaptorHost {
 public:
  // Takes `object` (just created by a call) and makes it live under its
  // path; answers the path.
  virtual std::string Export(std::unique_ptr<CExported> object) = 0;
  // A path of `prefix` followed by a number not handed out before.
  virtual std::string NewPath(const char* prefix) = 0;
  // `object` (live) was released by its client: it goes once the call
  // that released it has returned.
  virtual void Retire(const CExported& object) = 0;
  // Advises a sink of the host's on object.point for object.owner.
  virtual HRESULT AdviseSink(CExported& object, DWORD* cookie) = 0;

 protected:
  ~CAdaptorHost() = default;
};

// The methods of an object of `kind`, IUnknown's Release first.
std::vector<CMethod> MethodsOf(CExported::Kind kind, CAdaptorHost& host);

// A new event server object of `clsid` for client `owner`, created as
// CoCreateInstance does, with the host's sink advised on its IOPCShutdown
// connection point, and made live through host.Export (its path in *path).
// The creation's failure HRESULT when it fails.
HRESULT CreateEventServerObject(const CLSID& clsid, const std::string& owner, CAdaptorHost& host,
                                std::string* path);

}  // namespace aedbus
