// The names of the OPC AE objects on D-Bus: the server's bus name derived
// from its ProgID, the object paths, the interface names and the error
// names that carry an HRESULT. docs/dbus.md describes them for clients.
//
// Contract: pure functions, thread-safe. BusNameFromProgId always gives a
// valid bus name for a non-empty ProgID: each dot-separated component keeps
// its letters, digits and '_', other characters become '_', a component
// starting with a digit (or empty) gets a leading '_', and a one-component
// ProgID gets the component "Server" appended.
#pragma once

#include <string>

#include "platform/com.h"

namespace aedbus {

inline constexpr char kServerPath[] = "/Server";
inline constexpr char kEventServerPathPrefix[] = "/EventServer/";
inline constexpr char kSubscriptionPathPrefix[] = "/Subscription/";
inline constexpr char kAreaBrowserPathPrefix[] = "/AreaBrowser/";

inline constexpr char kServerClassInterface[] = "org.opcfoundation.AE.ServerClass";
inline constexpr char kUnknownInterface[] = "org.opcfoundation.AE.IUnknown";
inline constexpr char kEventServerInterface[] = "org.opcfoundation.AE.IOPCEventServer";
inline constexpr char kEventServer2Interface[] = "org.opcfoundation.AE.IOPCEventServer2";
inline constexpr char kCommonInterface[] = "org.opcfoundation.AE.IOPCCommon";
inline constexpr char kShutdownInterface[] = "org.opcfoundation.AE.IOPCShutdown";
inline constexpr char kSubscriptionInterface[] = "org.opcfoundation.AE.IOPCEventSubscriptionMgt";
inline constexpr char kSubscription2Interface[] = "org.opcfoundation.AE.IOPCEventSubscriptionMgt2";
inline constexpr char kConnectionPointInterface[] = "org.opcfoundation.AE.IConnectionPoint";
inline constexpr char kSinkInterface[] = "org.opcfoundation.AE.IOPCEventSink";
inline constexpr char kAreaBrowserInterface[] = "org.opcfoundation.AE.IOPCEventAreaBrowser";

inline constexpr char kOnEventSignal[] = "OnEvent";
inline constexpr char kShutdownSignal[] = "ShutdownRequest";

// "org.opcfoundation.AE.Error.HRESULT_" followed by the code's 8 upper-case
// hex digits.
inline constexpr char kErrorPrefix[] = "org.opcfoundation.AE.Error.HRESULT_";

// The most elements any array argument may carry; more is E_INVALIDARG.
inline constexpr size_t kMaxArrayElements = 65'536;

std::string BusNameFromProgId(const std::string& progId);
std::string ErrorName(HRESULT code);
// The HRESULT an error name carries; E_FAIL for any other D-Bus error.
HRESULT HResultFromErrorName(const std::string& name);

}  // namespace aedbus
