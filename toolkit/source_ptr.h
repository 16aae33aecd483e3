// An owning pointer to a CAESource (intrusive reference count): for every
// holder that must keep a source alive after the cache lets it go.
//
// Contract: the constructor from a raw pointer adds a reference, Adopt takes
// over one the caller already owns; the destructor releases. Copies share.
#pragma once

#include <utility>

#include "toolkit/source.h"

class CAESourcePtr {
 public:
  CAESourcePtr() = default;
  explicit CAESourcePtr(CAESource* source) : p_(source) {
    if (p_) p_->AddRef();
  }
  CAESourcePtr(const CAESourcePtr& o) : CAESourcePtr(o.p_) {}
  CAESourcePtr(CAESourcePtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~CAESourcePtr() { Reset(); }
  CAESourcePtr& operator=(CAESourcePtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  static CAESourcePtr Adopt(CAESource* source) {
    CAESourcePtr r;
    r.p_ = source;
    return r;
  }
  void Reset() {
    if (CAESource* p = std::exchange(p_, nullptr)) p->Release();
  }

  CAESource* Get() const { return p_; }
  CAESource* operator->() const { return p_; }
  CAESource& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  CAESource* p_ = nullptr;
};
