// ProgressHandle: what a worker and the progress dialog share while a piece
// of work (loading log files) runs: the range and position of the work, a
// keep-going flag the dialog clears on Cancel, and a done flag set when the
// work function has returned.
//
// Contract: reference counted the COM way: Create() hands out the first
// reference, AddRef/Release change the count atomically and the object
// deletes itself at 0; holders keep it in a ComPtr. QueryInterface always
// answers E_NOTIMPL. Each field is written by one side only (range,
// position and done by the worker, keep-going by the dialog) and read by
// the other; any thread may call any member.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/com.h"

class ProgressHandle final : public IUnknown {
 public:
  static ComPtr<ProgressHandle> Create() { return ComPtr<ProgressHandle>::Attach(new ProgressHandle); }

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override;

  // The upper end of the progress range (the lower end is 0).
  uint32_t Range() const { return range_.load(std::memory_order_relaxed); }
  void SetRange(uint32_t range) { range_.store(range, std::memory_order_relaxed); }
  uint32_t Position() const { return position_.load(std::memory_order_relaxed); }
  void SetPosition(uint32_t position) { position_.store(position, std::memory_order_relaxed); }

  // True until Cancel; the worker polls it and stops early.
  bool KeepGoing() const { return keepGoing_.load(std::memory_order_acquire) != 0; }
  void Cancel() { keepGoing_.store(0, std::memory_order_release); }

  // Set once the work function has returned; its results are then complete.
  bool Done() const { return done_.load(std::memory_order_acquire) != 0; }
  void SetDone() { done_.store(1, std::memory_order_release); }

 private:
  ProgressHandle() = default;
  ~ProgressHandle() = default;

  ComRefCount refs_;
  std::atomic<uint32_t> range_{0};
  std::atomic<uint32_t> position_{0};
  std::atomic<uint8_t> keepGoing_{1};
  std::atomic<uint8_t> done_{0};
};
