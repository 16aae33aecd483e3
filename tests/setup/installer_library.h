// InstallerLibrary: one of the installer helper libraries, loaded with
// dlopen and its exports found with dlsym, as an installer does.
//
// Contract: Export<F>(name) is the export as a pointer to F (a function
// type, e.g. decltype(bkIsRunning)), or null; the library stays loaded
// while the object lives. Also a raw capture of the debugger output: one
// text per DebugOutput call, exactly as sent.
#pragma once

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug.h"

class InstallerLibrary {
 public:
  explicit InstallerLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
  InstallerLibrary(const InstallerLibrary&) = delete;
  InstallerLibrary& operator=(const InstallerLibrary&) = delete;
  ~InstallerLibrary() {
    if (handle_) dlclose(handle_);
  }

  bool Loaded() const { return handle_ != nullptr; }
  template <class F>
  F* Export(const char* name) const {
    return handle_ ? reinterpret_cast<F*>(dlsym(handle_, name)) : nullptr;
  }

 private:
  void* handle_;
};

class RawDebugCapture {
 public:
  RawDebugCapture() {
    previous_ = SetDebugOutputSink([this](const std::string& text) {
      std::lock_guard lock(mutex_);
      texts_.push_back(text);
    });
  }
  RawDebugCapture(const RawDebugCapture&) = delete;
  RawDebugCapture& operator=(const RawDebugCapture&) = delete;
  ~RawDebugCapture() { SetDebugOutputSink(std::move(previous_)); }

  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    texts_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  DebugOutputSink previous_;
};
