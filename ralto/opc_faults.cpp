#include "ralto/opc_faults.h"

#include <iterator>

namespace {

// By RaltoOpcCall, from RALTO_CALL_CREATEINSTANCE on.
constexpr std::string_view kCallNames[] = {
    "createinstance", "addgroup", "geterrorstring", "getgroupbyname", "getstatus",
    "removegroup", "creategroupenumerator", "additems", "validateitems", "removeitems",
    "setactivestate", "setclienthandles", "setdatatypes", "getstate", "setstate",
    "setname", "read", "write", "findconnectionpoint", "advise",
    "unadvise", "queryorganization", "changebrowseposition", "browseopcitemids", "getitemid"};
static_assert(std::size(kCallNames) == RALTO_CALL_COUNT_ - RALTO_CALL_CREATEINSTANCE);

bool KnownCall(RaltoOpcCall call) { return call >= RALTO_CALL_CREATEINSTANCE && call < RALTO_CALL_COUNT_; }

}  // namespace

bool CRaltoOpcFaults::CallFromName(std::string_view name, RaltoOpcCall* call) {
  for (size_t i = 0; i < std::size(kCallNames); ++i) {
    if (kCallNames[i] == name) {
      *call = static_cast<RaltoOpcCall>(RALTO_CALL_CREATEINSTANCE + i);
      return true;
    }
  }
  return false;
}

CRaltoOpcFaults& CRaltoOpcFaults::Instance() {
  static CRaltoOpcFaults faults;
  return faults;
}

HRESULT CRaltoOpcFaults::Check(RaltoOpcCall call) {
  std::unique_lock lock(mutex_);
  if (hanging_[call]) {
    ++hungCallers_;
    released_.wait(lock, [&] { return !hanging_[call]; });
    --hungCallers_;
  }
  Failure& failure = failures_[call];
  if (failure.result == S_OK) return S_OK;
  if (failure.skip > 0) {
    --failure.skip;
    return S_OK;
  }
  HRESULT result = failure.result;
  if (failure.times > 0 && --failure.times == 0) failure = Failure{};
  return result;
}

bool CRaltoOpcFaults::IsHidden(const IID& iid) {
  std::lock_guard lock(mutex_);
  return !hidden_.empty() && hidden_.count(iid) > 0;
}

bool CRaltoOpcFaults::IsRejected(std::string_view itemId) {
  std::lock_guard lock(mutex_);
  return !rejected_.empty() && rejected_.find(itemId) != rejected_.end();
}

HRESULT CRaltoOpcFaults::Fail(RaltoOpcCall call, HRESULT result, DWORD skip, DWORD times) {
  if (!KnownCall(call) || SUCCEEDED(result)) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  failures_[call] = Failure{result, skip, times};
  return S_OK;
}

void CRaltoOpcFaults::Hide(const IID& iid) {
  std::lock_guard lock(mutex_);
  hidden_.insert(iid);
}

HRESULT CRaltoOpcFaults::Hang(RaltoOpcCall call) {
  if (!KnownCall(call)) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  hanging_[call] = true;
  return S_OK;
}

DWORD CRaltoOpcFaults::HungCallers() {
  std::lock_guard lock(mutex_);
  return hungCallers_;
}

void CRaltoOpcFaults::Reject(const std::string& itemId) {
  std::lock_guard lock(mutex_);
  rejected_.insert(itemId);
}

void CRaltoOpcFaults::EndRejections() {
  std::lock_guard lock(mutex_);
  rejected_.clear();
}

void CRaltoOpcFaults::Clear() {
  std::lock_guard lock(mutex_);
  for (Failure& failure : failures_) failure = Failure{};
  for (bool& hanging : hanging_) hanging = false;
  hidden_.clear();
  rejected_.clear();
  released_.notify_all();
}
