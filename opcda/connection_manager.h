// ConnectionManager: owner of the server's one OPC DA connection and the
// way in for the other subsystems: its settings in the registry, the
// C_OPC_DA_Client while connected, the connection state the window shows,
// the connect thread (one pass per Connect) and the binding thread, which
// re-imports the configuration every binding period ("AlarnEventBindingRate",
// default 60000 ms) and adds items for new variables. The source builder
// takes its alarm entries here (it is the process's CAlarmEntrySupply while
// it lives); the alarm processor and the acknowledgement write-back look
// variables up here.
//
//   connectionState  2 Not Connected -> Connect -> 4 Connecting -> 0, 2 or 3
//                    (0 Connected, 3 Invalid Server: no alarm sources);
//                    Disconnect -> 2
//   bindingState     2 idle, 4 tick running, 3 last tick failed
//
// Contract: one instance for the life of the program, held in
// g_pConnectionManager. Every operation that touches `client` holds
// g_ConfigMutex (recursive: callers may hold it already); `client` itself
// may only be read or replaced under it. The states are read without a
// lock. Connect returns at once; its thread and the binding thread are
// never killed. The destructor waits for a connect pass at most its stop
// limit: a pass stuck in an OPC DA call that does not return is then left
// behind ("Terminating Connect Thread\n" on the debugger output) with its
// client, the lock it holds and everything it uses; it touches nothing of
// the manager when its call returns. The binding thread ends at its stop
// event. Any thread, except that the destructor must not run under
// g_ConfigMutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "alarmconfig/alarm_entry_supply.h"
#include "opcda/opc_da_client.h"
#include "platform/sync.h"

class CAECondition;
class CDerivedSource;

class ConnectionManager : public CAlarmEntrySupply {
 public:
  enum : int32_t { kConnected = 0, kNotConnected = 2, kInvalidServer = 3, kConnecting = 4 };
  enum : int32_t { kBindingIdle = 2, kBindingFailed = 3, kBindingRunning = 4 };

  // Reads "AlarnEventBindingRate" and becomes the process's alarm entry
  // supply. `stopLimitMs`: the destructor's wait for a connect pass.
  explicit ConnectionManager(DWORD stopLimitMs = 5000);
  // Waits for a connect pass under way (at most the stop limit),
  // disconnects, stops the binding thread and waits for it; clears
  // g_pConnectionManager if it is this.
  virtual ~ConnectionManager();
  ConnectionManager(const ConnectionManager&) = delete;
  ConnectionManager& operator=(const ConnectionManager&) = delete;

  // The connection settings of HKLM "SOFTWARE\Quillan\Veltro QRX OPC
  // AE\Config Data\Item0": "ServerName" (default string 61463, "" when the
  // key exists without it) and "UpdateRateMS" (default 1000). False, with
  // the defaults, when "Config Data" cannot be opened.
  static bool ReadSettings(std::string& serverName, DWORD& updateRateMs);
  // Replaces the key "Item0" and all its values (the binding rate and the
  // verbose switch go too) by "ServerName" and "UpdateRatems". False when
  // a key cannot be created.
  static bool WriteSettings(const std::string& serverName, DWORD updateRateMs);
  // The text of a connection state ("Connected" ...); "" for another value.
  static std::string StateText(int32_t state);

  // From Not Connected or Invalid Server: Connecting, and a connect pass on
  // a thread of its own. Otherwise, or while an earlier pass still runs,
  // nothing.
  void Connect();
  // Destroys the client, resets both states, empties alarmRequests and
  // sets every alarm source to bad quality.
  void Disconnect();
  // False while connecting or while a binding tick runs.
  bool IsIdle() const;

  // Every alarm entry of the client: its GetConditionEntries walked with a
  // working array of 3; entries without a source name are dropped. No
  // client: 0 and nothing appended. Otherwise the walk's error (0).
  int32_t GetConditionEntries(const std::string& name, AlarmConditionEntries& entries) override;
  int32_t GetNodeConditionEntries(const std::string& nodeName, AlarmConditionEntries& entries) override;
  SourceBuildResult LastSourceBuildResult() const override {
    return static_cast<SourceBuildResult>(lastSourceBuildResult.load());
  }

  // The client's variable of `itemId`; null when absent or not connected.
  // The pointer is valid while g_ConfigMutex is held and the client lives.
  AlarmVar* FindVariable(const std::string& itemId);

  // Writes a client's acknowledgement of `condition` back to the
  // controller: (the source's state flags << 8) | 1, or | 2 for a
  // rate-of-change alarm, to the block's ".FC" item, provided the
  // activation time the source holds is still that of the activation the
  // client acknowledged (condition's AcknowledgedActiveTime). The
  // outcome goes to resultText (strings 1036..1040; empty for the
  // failures without a text). Results: 1 not connected; S_OK after a
  // mismatch or a missing ".FC" item (nothing written); E_FAIL without a
  // client, table or alarm variable; E_INVALIDARG for a null argument;
  // the failure fetching IOPCSyncIO; else the write's HRESULT. Takes
  // g_ConfigMutex and g_CacheLock.
  HRESULT WriteAcknowledgement(CAECondition* condition, CDerivedSource* source, std::string& resultText);

  // How a connection starts the alarm processor, which sits above this
  // library: called under g_ConfigMutex with the client's syncIOCookie
  // after every connection and binding tick. Empty: nothing is started.
  void SetProcessorStarter(std::function<bool(DWORD syncIOCookie)> starter);

  // The connection's client; null when not connected.
  std::unique_ptr<C_OPC_DA_Client> client;
  std::atomic<int32_t> connectionState{kNotConnected};
  std::atomic<int32_t> bindingState{kBindingIdle};
  // Set to end the binding thread (the server callback does when the last
  // client goes); bindingDoneEvent is reset while a tick runs and set when
  // the thread has ended.
  ae::Event bindingStopEvent{ae::Event::kAutoReset};
  ae::Event bindingDoneEvent{ae::Event::kManualReset, true};
  // The result of the last BuildSourcesForVariable after a fresh
  // connection (a SourceBuildResult).
  std::atomic<int32_t> lastSourceBuildResult{kSourceBuildNotRun};
  const DWORD bindingRateMs;

 private:
  // What a connect pass shares with the manager. The pass holds `mutex`
  // except while its client connects (the OPC DA calls that may hang), so
  // the destructor can leave it behind only there.
  struct Pass {
    std::mutex mutex;
    bool abandoned = false;  // guarded by mutex
    ae::Event ended{ae::Event::kManualReset};
  };

  void ConnectPass(const std::shared_ptr<Pass>& pass);
  void BindingLoop();
  void BindingTick();
  // REQUIRES (all four): g_ConfigMutex held.
  void ActivateGroup();
  // Disconnect without the change of connectionState.
  void DropConnection();
  void StartBindingThread();
  void StartProcessor();

  std::function<bool(DWORD)> starter_;  // guarded by g_ConfigMutex
  std::mutex threadMutex_;              // guards the threads and flags below
  const DWORD stopLimitMs_;
  std::thread connectThread_;
  std::shared_ptr<Pass> pass_;
  std::thread bindingThread_;
  bool connectRunning_ = false;
  bool bindingRunning_ = false;
  bool closing_ = false;
};

// The program's connection manager; null before start-up creates it. Set
// and cleared under g_ConfigMutex.
extern ConnectionManager* g_pConnectionManager;
