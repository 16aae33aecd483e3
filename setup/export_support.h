// What both installer helper libraries need around their exports: no
// exception may leave an export, and every service handle opened is
// closed again.
//
// Contract: CallExport returns what `body` returns, or, should it throw,
// ERROR_NOT_ENOUGH_MEMORY (std::bad_alloc) or `otherwise`. A
// ScopedServiceHandle closes the handle it holds (if any) when it goes.
#pragma once

#include <cstdint>
#include <new>

#include "platform/services.h"

template <class Body>
uint32_t CallExport(Body&& body, uint32_t otherwise = ERROR_GEN_FAILURE) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return otherwise;
  }
}

class ScopedServiceHandle {
 public:
  explicit ScopedServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ScopedServiceHandle(const ScopedServiceHandle&) = delete;
  ScopedServiceHandle& operator=(const ScopedServiceHandle&) = delete;
  ~ScopedServiceHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }

  operator SC_HANDLE() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};
