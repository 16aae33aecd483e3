// IEnumString over a list of strings that the enumerator shares (a browse of
// 100,000 items copies no string until it is asked for).
//
// Contract: the COM enumerator rules. Next copies up to celt strings into
// task-allocated strings (the caller frees each), answers S_OK when it gave
// celt, S_FALSE when fewer remained, E_INVALIDARG for a null array or a null
// pceltFetched with celt > 1, E_OUTOFMEMORY (nothing handed out) when a copy
// fails. Skip answers S_FALSE when it ran past the end. Clone copies the
// position. One enumerator is for one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/opcda.h"

class CRaltoEnumString final : public IEnumString {
 public:
  using List = std::shared_ptr<const std::vector<std::string>>;

  // Made with one reference, which the caller owns. REQUIRES: list != nullptr.
  explicit CRaltoEnumString(List list, size_t position = 0);

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT Next(ULONG celt, char** rgelt, ULONG* pceltFetched) override;
  HRESULT Skip(ULONG celt) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumString** ppEnum) override;

 private:
  ~CRaltoEnumString() = default;

  ComRefCount refs_;
  List list_;
  size_t position_;
};
