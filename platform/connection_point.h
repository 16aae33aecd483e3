// Connection points: how a server object calls back into its clients' sinks
// (IOPCDataCallback, IOPCEventSink, IOPCShutdown).
//
// Contract (COM): Advise queries the sink for the connection point's outgoing
// interface (CONNECT_E_CANNOTCONNECT when it lacks it), keeps a reference and
// returns a non-zero cookie; Unadvise with an unknown cookie answers
// CONNECT_E_NOCONNECTION. EnumConnectionPoints / EnumConnections hand out an
// enumerator over a snapshot taken at the call (a server may answer
// E_NOTIMPL instead). Enumerators: Next fills up to `count` elements, each
// with a reference the caller releases (CONNECTDATA: its pUnk), and answers
// S_OK when it filled all, S_FALSE when fewer; `fetched` may be null only
// when count is 1. Skip answers S_FALSE when it passed the end; Clone copies
// the position.
#pragma once

#include "platform/com.h"

class IConnectionPointContainer;
class IEnumConnections;

// {B196B286-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IConnectionPoint{0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B284-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IConnectionPointContainer{0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B285-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IEnumConnectionPoints{0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
// {B196B287-BAB4-101A-B69C-00AA00341D07}
constexpr IID IID_IEnumConnections{0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// One connection of a connection point: the advised sink and its cookie.
struct CONNECTDATA {
  IUnknown* pUnk = nullptr;
  DWORD dwCookie = 0;
};

class IConnectionPoint : public IUnknown {
 public:
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** enumerator) = 0;

 protected:
  ~IConnectionPoint() = default;
};

class IEnumConnectionPoints : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** enumerator) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};

class IEnumConnections : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, CONNECTDATA* connections, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** enumerator) = 0;

 protected:
  ~IEnumConnections() = default;
};

class IConnectionPointContainer : public IUnknown {
 public:
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** enumerator) = 0;
  virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};
