// OPC Common 1.10 for in-process clients: IOPCCommon (on the event server
// object) and IOPCShutdown (the client's sink, reached through the server's
// connection point).
//
// Contract: the COM rules with the project's types: strings are UTF-8
// std::string, out arrays are std::vector filled by the callee; every method
// may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"

constexpr LCID LOCALE_NEUTRAL = 0x0000;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// {F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}
constexpr IID IID_IOPCShutdown{0xF31DFDE1, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
// {F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}
constexpr IID IID_IOPCCommon{0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

// Implemented by the client: the server is about to stop and asks the client
// to release its references. Called with no server lock held.
class IOPCShutdown : public IUnknown {
 public:
  virtual HRESULT ShutdownRequest(const std::string& reason) = 0;

 protected:
  ~IOPCShutdown() = default;
};

class IOPCCommon : public IUnknown {
 public:
  // E_INVALIDARG for a locale that QueryAvailableLocaleIDs does not list.
  virtual HRESULT SetLocaleID(LCID locale) = 0;
  virtual HRESULT GetLocaleID(LCID* locale) = 0;
  virtual HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* locales) = 0;
  virtual HRESULT GetErrorString(HRESULT code, std::string* text) = 0;
  virtual HRESULT SetClientName(const std::string& name) = 0;

 protected:
  ~IOPCCommon() = default;
};
