#include "ralto/opc_faults.h"

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

void CRaltoOpcFaults::Fail(RaltoOpcCall call, HRESULT result, DWORD skip, DWORD times) {
  std::lock_guard lock(mutex_);
  failures_[call] = Failure{result, skip, times};
}

void CRaltoOpcFaults::Hide(const IID& iid) {
  std::lock_guard lock(mutex_);
  hidden_.insert(iid);
}

void CRaltoOpcFaults::Hang(RaltoOpcCall call) {
  std::lock_guard lock(mutex_);
  hanging_[call] = true;
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
