// The toolkit's enumerators of connection points and connections
// (IEnumConnectionPoints, IEnumConnections), over a snapshot taken when they
// are made.
//
// Contract: platform/connection_point.h. The enumerator holds a reference
// on every element for its own life and hands each out with one more.
// Create takes the elements without adding references (the caller hands
// over one per element) and answers E_POINTER for a null out pointer (the
// elements are released). Thread-safe.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/connection_point.h"

template <class Interface, class Element>
class CAEEnumerator final : public Interface {
  static constexpr bool kConnections = std::is_same_v<Element, CONNECTDATA>;

 public:
  static HRESULT Create(std::vector<Element> elements, Interface** enumerator) {
    auto shared = std::make_shared<const Elements>(std::move(elements));
    if (!enumerator) return E_POINTER;
    *enumerator = new CAEEnumerator(std::move(shared), 0);
    return S_OK;
  }

  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != (kConnections ? IID_IEnumConnections : IID_IEnumConnectionPoints)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT Next(ULONG count, Element* out, ULONG* fetched) override {
    if (!out || (!fetched && count != 1)) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = static_cast<ULONG>(std::min<size_t>(count, elements_->items.size() - position_));
    for (ULONG i = 0; i < n; ++i) {
      out[i] = elements_->items[position_ + i];
      Object(out[i])->AddRef();
    }
    position_ += n;
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    std::lock_guard lock(mutex_);
    size_t left = elements_->items.size() - position_;
    position_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    std::lock_guard lock(mutex_);
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** enumerator) override {
    if (!enumerator) return E_POINTER;
    std::lock_guard lock(mutex_);
    *enumerator = new CAEEnumerator(elements_, position_);
    return S_OK;
  }

 private:
  // The snapshot, shared by clones; its references go with the last of them.
  struct Elements {
    explicit Elements(std::vector<Element> e) : items(std::move(e)) {}
    ~Elements() {
      for (const Element& e : items) Object(e)->Release();
    }
    std::vector<Element> items;
  };

  static IUnknown* Object(const Element& e) {
    if constexpr (kConnections) {
      return e.pUnk;
    } else {
      return e;
    }
  }

  CAEEnumerator(std::shared_ptr<const Elements> elements, size_t position)
      : elements_(std::move(elements)), position_(position) {}
  ~CAEEnumerator() = default;

  ComRefCount refs_;
  std::mutex mutex_;
  const std::shared_ptr<const Elements> elements_;
  size_t position_;  // guarded by mutex_
};

using CAEEnumConnectionPoints = CAEEnumerator<IEnumConnectionPoints, IConnectionPoint*>;
using CAEEnumConnections = CAEEnumerator<IEnumConnections, CONNECTDATA>;
