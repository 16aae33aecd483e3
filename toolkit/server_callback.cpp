#include "toolkit/server_callback.h"

#include <cstdio>

#include "platform/connection_point.h"
#include "platform/debug.h"
#include "toolkit/area_browser.h"
#include "toolkit/engine.h"
#include "toolkit/match_pattern.h"
#include "toolkit/opcae.h"
#include "toolkit/source_cache.h"

namespace {

struct ErrorText {
  HRESULT code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation succeeded, but not for every element."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {E_OUTOFMEMORY, "Not enough memory is available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation."},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_CLASSSTRING, "Invalid class string."},
    {CONNECT_E_NOCONNECTION, "There is no connection for this connection ID."},
    {CONNECT_E_ADVISELIMIT, "This implementation's limit for advisory connections has been reached."},
    {CONNECT_E_CANNOTCONNECT, "Connection attempt failed."},
    {CONNECT_E_OVERRIDDEN, "Must use a derived interface to connect."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {OPC_S_ALREADYACKED, "The condition has already been acknowledged."},
    {OPC_S_INVALIDBUFFERTIME, "The buffer time parameter was invalid."},
    {OPC_S_INVALIDMAXSIZE, "The max size parameter was invalid."},
    {OPC_S_INVALIDKEEPALIVETIME, "The keep-alive time parameter was invalid."},
    {OPC_E_INVALIDBRANCHNAME, "The string was not recognized as an area name."},
    {OPC_E_INVALIDTIME, "The time does not match the latest active time."},
    {OPC_E_BUSY, "A refresh is currently in progress."},
    {OPC_E_NOINFO, "Information is not available."},
};

// Known areas and sources are valid, and so is any well-formed pattern.
HRESULT ValidateNames(const std::vector<std::string>& names, std::vector<HRESULT>& errors, bool areas) {
  errors.clear();
  HRESULT result = S_OK;
  for (const std::string& n : names) {
    bool known = HasWildcards(n) ? IsValidPattern(n)
                                 : (areas ? !n.empty() && g_SourceCache.HasArea(n) : g_SourceCache.GetSource(n) != nullptr);
    errors.push_back(known ? S_OK : E_INVALIDARG);
    if (!known) result = S_FALSE;
  }
  return result;
}

}  // namespace

CAEServerCallback::~CAEServerCallback() = default;

LONG CAEServerCallback::OnClientConnect() { return 0; }

void CAEServerCallback::OnClientDisconnect() {}

HRESULT CAEServerCallback::GetErrorString(HRESULT code, LCID, std::string& text) {
  for (const ErrorText& e : kErrorTexts) {
    if (e.code == code) {
      text = e.text;
      return S_OK;
    }
  }
  text.clear();
  return E_INVALIDARG;
}

HRESULT CAEServerCallback::CreateAreaBrowser(const IID& iid, IUnknown** browser) {
  return CAEAreaBrowser::Create(iid, browser);
}

BOOL CAEServerCallback::AllowChangeConditionEnabled(const std::string&, BOOL, BOOL) { return true; }

void CAEServerCallback::OnChangeConditionEnabled(const std::string&, BOOL, BOOL) {}

void CAEServerCallback::OnConditionAcknowledged(CAECondition*) {}

HRESULT CAEServerCallback::ValidateAreaNames(const std::vector<std::string>& names, std::vector<HRESULT>& errors) {
  return ValidateNames(names, errors, true);
}

HRESULT CAEServerCallback::ValidateSourceNames(const std::vector<std::string>& names, std::vector<HRESULT>& errors) {
  return ValidateNames(names, errors, false);
}

BOOL CAEServerCallback::GetConditionAttributeValues(LONG, DWORD, const DWORD*, CAECondition*, VARIANT*) {
  return true;
}

HRESULT CAEServerCallback::TranslateToItemIDs(const std::string&, DWORD, const std::string&, const std::string&,
                                              DWORD, const DWORD*, char*** itemIds, char*** nodeNames,
                                              CLSID** clsids) {
  if (itemIds) *itemIds = nullptr;
  if (nodeNames) *nodeNames = nullptr;
  if (clsids) *clsids = nullptr;
  return E_NOTIMPL;
}

void CAEServerCallback::OnTrace(int level, const std::string& text) {
  CAEEngine::Instance().Trace().Write(level, text);
}

void CAEServerCallback::OnInternalError(HRESULT code, const std::string& text) {
  char line[64];
  std::snprintf(line, sizeof line, " (0x%08X)", static_cast<unsigned>(code));
  CAEEngine::Instance().Trace().Write(1, "internal error: " + text + line);
  DebugOutput("TolkAEServerU: " + text + line + "\n");
}
