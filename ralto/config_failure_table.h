// The failures that tests and the demo inject into the configuration server:
// one table per process, shared by every object of the class, so that a
// client's own object (created after the failure was set) sees them too.
//
// Contract: Find returns the HRESULT set for (kind, id), or S_OK when none
// is set. Any thread may call any function.
#pragma once

#include <map>
#include <mutex>
#include <utility>

#include "platform/com.h"

class CConfigFailureTable {
 public:
  static CConfigFailureTable& Instance();

  // Replaces an earlier failure of the same (kind, id).
  // REQUIRES: FAILED(result).
  void Set(LONG kind, LONG id, HRESULT result);
  void Clear();
  HRESULT Find(LONG kind, LONG id) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<LONG, LONG>, HRESULT> failures_;
};
