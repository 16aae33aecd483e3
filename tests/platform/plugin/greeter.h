// The interface of the test plugin: a tiny in-process class that the class
// creation tests load by ProgID.
#pragma once

#include <string>

#include "platform/com.h"

// {6F1C2A40-93B5-4C1E-9E2D-3B7A51C0D001}
constexpr CLSID CLSID_TestGreeter{0x6F1C2A40, 0x93B5, 0x4C1E, {0x9E, 0x2D, 0x3B, 0x7A, 0x51, 0xC0, 0xD0, 0x01}};
// {6F1C2A40-93B5-4C1E-9E2D-3B7A51C0D002}
constexpr IID IID_ITestGreeter{0x6F1C2A40, 0x93B5, 0x4C1E, {0x9E, 0x2D, 0x3B, 0x7A, 0x51, 0xC0, 0xD0, 0x02}};

class ITestGreeter : public IUnknown {
 public:
  virtual HRESULT Greet(const std::string& name, std::string* text) = 0;
  // Objects of the plugin alive now (all instances).
  virtual LONG LiveObjects() = 0;

 protected:
  ~ITestGreeter() = default;
};
