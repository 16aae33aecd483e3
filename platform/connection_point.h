// Connection points: how a server object calls back into its clients' sinks
// (IOPCDataCallback, IOPCEventSink, IOPCShutdown).
//
// Contract (COM): Advise queries the sink for the connection point's outgoing
// interface (CONNECT_E_CANNOTCONNECT when it lacks it), keeps a reference and
// returns a non-zero cookie; Unadvise with an unknown cookie answers
// CONNECT_E_NOCONNECTION. Enumeration is not offered (E_NOTIMPL).
#pragma once

#include "platform/com.h"

class IConnectionPointContainer;

// {B196B286-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IConnectionPoint{0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B284-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IConnectionPointContainer{0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

class IConnectionPoint : public IUnknown {
 public:
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(void** enumerator) = 0;  // E_NOTIMPL

 protected:
  ~IConnectionPoint() = default;
};

class IConnectionPointContainer : public IUnknown {
 public:
  virtual HRESULT EnumConnectionPoints(void** enumerator) = 0;  // E_NOTIMPL
  virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};
