// CLumAEServerCallback: the server's answers to the toolkit. It counts the
// connected OPC AE clients and shuts the server down when the last one goes,
// writes a client's acknowledgement back to the controller and records it
// in the acknowledgement log, supplies the values of a condition's vendor
// attributes and answers TranslateToItemIDs. Every other operation is the
// toolkit's own.
//
// Shutdown, once per fall of the client count to 0 while the main window
// exists: set the connection manager's bindingStopEvent, wait at most
// `bindingWaitMs` (2000) for its bindingDoneEvent (a time-out is no error),
// RequestDisconnect("Shutdown with no clients"), and post
// WM_CLOSE_NO_CLIENTS to the main window through its link.
//
// Acknowledgement road: nothing when the source is not a CDerivedSource or
// the server itself is acknowledging it (AckInProgress). Otherwise the
// connection manager's WriteAcknowledgement, then, whatever its outcome and
// when g_pAlarmLog exists and IsLoggingEnabled(), one log record with the
// outcome text, under the log's own mutex (never together with
// g_ConfigMutex).
//
// Contract: one object for the life of the program, handed to
// g_ServerInterface.SetCallbackObject once the event catalogue is declared.
// The toolkit calls it from its client and delivery threads, several at
// once, with no toolkit lock held (GetConditionAttributeValues under the
// condition's source lock, so that one takes no lock of its own).
// REQUIRES: g_pConnectionManager and g_pAlarmLog are not deleted while the
// toolkit may still call.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "callback/main_window_link.h"
#include "toolkit/server_callback.h"

// The ProgID whose CLSID TranslateToItemIDs hands out with every item.
inline constexpr const char* kItemIdClassProgId = "Veltrocorp.OPCAEqrxServer.1";

class CLumAEServerCallback : public CAEServerCallback {
 public:
  explicit CLumAEServerCallback(DWORD bindingWaitMs = 2000);
  ~CLumAEServerCallback() override;
  CLumAEServerCallback(const CLumAEServerCallback&) = delete;
  CLumAEServerCallback& operator=(const CLumAEServerCallback&) = delete;

  // The main window once it exists; null (the start) means none yet, so a
  // last disconnect only counts. Not owned. Any thread.
  void SetMainWindowLink(CMainWindowLink* link);
  // Clients connected and not yet gone.
  LONG ClientCount() const { return clientCount_.load(); }

  // Counts; 0.
  LONG OnClientConnect() override;
  // Counts down; the shutdown above when this call brought the count to 0.
  void OnClientDisconnect() override;
  // The acknowledgement road above; never fails towards the toolkit.
  void OnConditionAcknowledged(CAECondition* condition) override;
  // Copies the source's slot of each attribute ID into values[i], in order.
  // TRUE when all were found (also for a null condition, values untouched);
  // FALSE at the first ID without a slot (earlier values filled, later ones
  // untouched), and for null arrays. `first` is not read.
  BOOL GetConditionAttributeValues(LONG first, DWORD count, const DWORD* attributeIds,
                                   CAECondition* condition, VARIANT* values) override;
  // S_OK: `count` empty item IDs, `count` empty node names and `count`
  // copies of the CLSID of kItemIdClassProgId, all from the task allocator
  // (the caller frees them). E_FAIL when that ProgID is not registered;
  // E_INVALIDARG for an unknown category, source, condition, subcondition
  // (unless empty) or attribute, an attribute of another category, or a
  // count of 0; E_OUTOFMEMORY; E_POINTER for a null out-pointer. On
  // failure the out-pointers are null.
  HRESULT TranslateToItemIDs(const std::string& source, DWORD eventCategory, const std::string& conditionName,
                             const std::string& subconditionName, DWORD count, const DWORD* attributeIds,
                             char*** itemIds, char*** nodeNames, CLSID** clsids) override;

 private:
  friend class CLumAEServerCallbackTestPeer;
  using Allocator = void* (*)(size_t);

  void ShutDown();

  const DWORD bindingWaitMs_;
  std::atomic<LONG> clientCount_{0};
  std::atomic<CMainWindowLink*> mainWindow_{nullptr};
  Allocator allocate_;  // the task allocator
};
