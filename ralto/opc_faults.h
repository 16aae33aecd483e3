// The faults that tests inject into the Ralto OPC DA server: failing calls,
// hidden interfaces and rejected items. One table per process, shared by
// every object of the library (a client creates its own server object).
//
// Contract: Check(call) answers the failure to return for this call (and
// counts it), or S_OK; for a hanging call it first blocks until Clear. IsHidden(iid) tells QueryInterface to answer
// E_NOINTERFACE. IsRejected(itemId) holds from RejectItem until
// EndRejections (a browse or a reload). Fail and Hang answer E_INVALIDARG
// (and change nothing) for a call outside RaltoOpcCall, Fail also for a
// result that is no failure. Every member is thread-safe.
#pragma once

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "ralto/opc_control.h"

class CRaltoOpcFaults {
 public:
  static CRaltoOpcFaults& Instance();

  // The call of a lower-case name: "createinstance", "addgroup", ... as the
  // RALTO_CALL_ names read. False for any other name.
  static bool CallFromName(std::string_view name, RaltoOpcCall* call);

  HRESULT Check(RaltoOpcCall call);
  bool IsHidden(const IID& iid);
  bool IsRejected(std::string_view itemId);

  HRESULT Fail(RaltoOpcCall call, HRESULT result, DWORD skip, DWORD times);
  void Hide(const IID& iid);
  HRESULT Hang(RaltoOpcCall call);
  DWORD HungCallers();
  void Reject(const std::string& itemId);
  void EndRejections();
  void Clear();

 private:
  struct Failure {
    HRESULT result = S_OK;  // S_OK: none
    DWORD skip = 0;
    DWORD times = 0;  // 0: for good
  };

  CRaltoOpcFaults() = default;

  std::mutex mutex_;
  std::condition_variable released_;
  Failure failures_[RALTO_CALL_COUNT_];
  bool hanging_[RALTO_CALL_COUNT_] = {};
  DWORD hungCallers_ = 0;
  std::set<IID> hidden_;
  std::set<std::string, std::less<>> rejected_;
};
