// Control of the simulated Ralto OPC DA server, for tests and the demo:
// QueryInterface any Brixham.RaltoOPC server object for IRaltoOpcControl.
//
// Contract: the plant and the faults are process-wide: what one control sets
// holds for every server object of the process, including those created
// later (a client creates its own), until changed or cleared. Results:
// S_OK; E_INVALIDARG for a bad argument (a state out of range, a success
// code given as failure); OPC_E_UNKNOWNITEMID for an item or block the plant
// does not have; E_UNEXPECTED for AdvanceClock without a manual clock;
// E_POINTER for a null out pointer. Any thread may call.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/filetime.h"
#include "ralto/opc_server.h"

// {C4E1A7B2-93D5-4E8F-A0B6-2F71D9C35E08}
constexpr IID IID_IRaltoOpcControl{0xC4E1A7B2, 0x93D5, 0x4E8F, {0xA0, 0xB6, 0x2F, 0x71, 0xD9, 0xC3, 0x5E, 0x08}};

// One alarm of a block as the controller holds it. Times are UTC (the
// controller publishes them in its local time); a null FILETIME is "none".
struct RaltoAlarmSetting {
  BYTE state = 0;  // level: 0..7 (1 LoLo, 2 Lo, 3 Hi, 4 HiHi); RoC: 0..3 (1 RoCD, 2 RoCU); bit: 0..1
  BOOL acknowledged = true;
  BYTE flags = 0;  // bits 8..15 of the state word
  FILETIME activation;
  FILETIME acknowledgement;
  FILETIME returnToNormal;
};

// One word written to an ".FC" item, in the order of the writes.
struct RaltoFcWrite {
  std::string itemId;
  LONG value = 0;
  FILETIME time;  // the plant clock's UTC time of the write
};

// The methods whose failure FailCall can inject.
enum RaltoOpcCall : DWORD {
  RALTO_CALL_CREATEINSTANCE = 1,  // the class factory's CreateInstance
  RALTO_CALL_ADDGROUP,
  RALTO_CALL_GETERRORSTRING,
  RALTO_CALL_GETGROUPBYNAME,
  RALTO_CALL_GETSTATUS,
  RALTO_CALL_REMOVEGROUP,
  RALTO_CALL_CREATEGROUPENUMERATOR,
  RALTO_CALL_ADDITEMS,
  RALTO_CALL_VALIDATEITEMS,
  RALTO_CALL_REMOVEITEMS,
  RALTO_CALL_SETACTIVESTATE,
  RALTO_CALL_SETCLIENTHANDLES,
  RALTO_CALL_SETDATATYPES,
  RALTO_CALL_GETSTATE,
  RALTO_CALL_SETSTATE,
  RALTO_CALL_SETNAME,
  RALTO_CALL_READ,
  RALTO_CALL_WRITE,
  RALTO_CALL_FINDCONNECTIONPOINT,
  RALTO_CALL_ADVISE,
  RALTO_CALL_UNADVISE,
  RALTO_CALL_QUERYORGANIZATION,
  RALTO_CALL_CHANGEBROWSEPOSITION,
  RALTO_CALL_BROWSEOPCITEMIDS,
  RALTO_CALL_GETITEMID,
  RALTO_CALL_COUNT_
};

class IRaltoOpcControl : public IUnknown {
 public:
  // ---- Address space ----
  // Serves the plant of `directory` ("" = the configuration server's
  // registry setting or default) and reloads at once.
  virtual HRESULT SetDocumentDirectory(const std::string& directory) = 0;
  // Picks up changed documents now (a browse does the same): new blocks
  // appear, vanished ones go; rejections end.
  virtual HRESULT ReloadDocuments() = 0;

  // ---- Controllers ----
  // Sets the alarm of a state word item ("NODE.BLOCK.AS" or ".RS") and
  // publishes the word and its elements with the plant clock's time.
  virtual HRESULT SetAlarm(const std::string& stateWordItemId, const RaltoAlarmSetting& alarm) = 0;
  // Sets a block's process value ("NODE.BLOCK"): the analog value of an O0C
  // block, the input bit (value != 0) of an O0D block. The controller acts
  // on it at its next scan (the next AdvanceClock, or within 100 ms on the
  // system clock).
  virtual HRESULT SetProcessValue(const std::string& blockId, double value) = 0;
  // From now on the plant runs on a clock that moves only by AdvanceClock.
  virtual HRESULT UseManualClock(FILETIME startUtc) = 0;
  // Moves the manual clock on and runs one controller scan at the new time.
  virtual HRESULT AdvanceClock(DWORD ms) = 0;
  // Random block changes at this rate per second of plant time (0 stops).
  virtual HRESULT RunRandomPlant(DWORD changesPerSecond, DWORD seed) = 0;
  // On: a state word is published at once, its four elements only at the
  // next scan and with a later time stamp. Off: all five at once, one time
  // stamp.
  virtual HRESULT SetIncoherentUpdates(BOOL on) = 0;
  // Every write to an ".FC" item so far. REQUIRES: writes != nullptr.
  virtual HRESULT GetFcWrites(std::vector<RaltoFcWrite>* writes) = 0;

  // ---- Faults ----
  // AddItems and ValidateItems answer OPC_E_UNKNOWNITEMID for this item
  // (method result S_FALSE) until the next browse or reload.
  virtual HRESULT RejectItem(const std::string& itemId) = 0;
  // `call` succeeds `skip` more times, then fails with `result` `times`
  // times (0: until cleared). E_INVALIDARG unless FAILED(result).
  virtual HRESULT FailCall(RaltoOpcCall call, HRESULT result, DWORD skip, DWORD times) = 0;
  // QueryInterface for `iid` answers E_NOINTERFACE on every object.
  virtual HRESULT HideInterface(const IID& iid) = 0;
  // `call` hangs from now on: it blocks its caller, holding no server lock,
  // until ClearFailures, then answers as it would have. E_INVALIDARG for
  // an unknown call.
  virtual HRESULT HangCall(RaltoOpcCall call) = 0;
  // How many callers are blocked in hanging calls now. E_POINTER for null.
  virtual HRESULT GetHungCallers(DWORD* count) = 0;
  // Ends FailCall, HideInterface, HangCall and RejectItem.
  virtual HRESULT ClearFailures() = 0;

  // ---- Update cycle ----
  // On: the update thread delivers nothing; TickUpdates does.
  virtual HRESULT SetManualUpdates(BOOL on) = 0;
  // Runs one update cycle of every active group now, on this thread
  // (OnDataChange is called from inside), whatever their update rates.
  virtual HRESULT TickUpdates() = 0;

 protected:
  ~IRaltoOpcControl() = default;
};
