// The simulated plant of the process: the alarm blocks of the configuration
// documents as controllers (CRaltoController), their items
// (CRaltoAddressSpace), the plant clock, the random plant and the log of
// acknowledgement writes (also kept in a journal file when one is set).
// One per process, shared by every server object.
//
// Contract: created at the first Instance() call, which loads the documents
// and starts the plant thread; lives until the process ends. On the system
// clock the plant thread scans the controllers that need it every 100 ms;
// on a manual clock only AdvanceClock scans. Control results are those of
// IRaltoOpcControl. Every member is thread-safe; readers of the items take
// Lock() and hold it while they use Items().
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "ralto/opc_address_space.h"
#include "ralto/opc_control.h"
#include "ralto/opc_controller.h"
#include "ralto/opc_plant_documents.h"

// A present block as the controller holds it, for the control on the bus.
struct RaltoBlockSnapshot {
  struct Alarm {
    std::string wordItemId;
    int which = 0;  // CRaltoController::kLevel or kRateOfChange
    RaltoAlarmSetting setting;
  };
  std::string id;  // "NODE.BLOCK"
  bool digital = false;
  double value = 0;  // CRaltoController::ProcessValue
  std::vector<std::string> itemIds;
  std::vector<Alarm> alarms;
};

class CRaltoPlant {
 public:
  static CRaltoPlant& Instance();

  CRaltoPlant(const CRaltoPlant&) = delete;
  CRaltoPlant& operator=(const CRaltoPlant&) = delete;
  ~CRaltoPlant();

  std::unique_lock<std::mutex> Lock() const { return std::unique_lock(mutex_); }
  // REQUIRES: Lock() held.
  const CRaltoAddressSpace& Items() const { return items_; }
  std::shared_ptr<const std::vector<std::string>> PresentIds();

  // Picks up changed documents. S_OK; S_FALSE when a producer's document
  // could not be read (its blocks stay as they were); the failure of the
  // summary (nothing changes).
  HRESULT Reload();
  HRESULT SetDocumentDirectory(const std::string& directory);

  // A client's write to item `index`: S_OK, OPC_E_UNKNOWNITEMID (vanished),
  // OPC_E_BADRIGHTS (not writable), OPC_E_BADTYPE, OPC_E_RANGE.
  // REQUIRES: index < Items().size().
  HRESULT Write(uint32_t index, const VARIANT& value);

  HRESULT SetAlarm(const std::string& stateWordItemId, const RaltoAlarmSetting& alarm);
  // The operator at the controller's panel acknowledges the alarm now
  // (nothing changes when it is acknowledged already).
  HRESULT Acknowledge(const std::string& stateWordItemId);
  // The alarm returns to normal now, keeping its acknowledgement (nothing
  // changes when it is normal).
  HRESULT Clear(const std::string& stateWordItemId);
  HRESULT SetProcessValue(const std::string& blockId, double value);
  HRESULT UseManualClock(FILETIME startUtc);
  HRESULT AdvanceClock(DWORD ms);
  HRESULT RunRandomPlant(DWORD changesPerSecond, DWORD seed);
  // Operators at random controllers' panels acknowledge what is
  // unacknowledged there, this many times per second of plant time (0 stops).
  HRESULT RunRandomAcknowledgements(DWORD perSecond);
  HRESULT SetIncoherentUpdates(bool on);
  std::vector<RaltoFcWrite> FcWrites() const;
  // The writes from index `since` on (none when past the end); *total is
  // the number of writes so far. REQUIRES: total != nullptr.
  std::vector<RaltoFcWrite> FcWritesSince(size_t since, size_t* total) const;
  // The present blocks whose "NODE.BLOCK" matches `pattern` (the browse
  // filter's syntax; "" all), in the order they appeared. E_INVALIDARG for
  // a malformed pattern. REQUIRES: blocks != nullptr.
  HRESULT Blocks(const std::string& pattern, std::vector<RaltoBlockSnapshot>* blocks) const;
  // The plant clock's time.
  FILETIME Now() const;

 private:
  struct Producer {
    std::string node;
    size_t textHash = 0;
    std::vector<uint32_t> controllers;
  };

  CRaltoPlant();

  // REQUIRES (all below): mutex_ held.
  const ae::Clock& CurrentClock() const;
  void ApplyProducer(const RaltoProducerDef& def, Producer& producer, const FILETIME& now);
  void DropProducer(Producer& producer);
  uint32_t ControllerOf(const std::string& blockId);
  // The controller and alarm of a present state word item: S_OK,
  // OPC_E_UNKNOWNITEMID, or E_INVALIDARG for an item that is no state word.
  HRESULT FindAlarm(const std::string& stateWordItemId, uint32_t* controller, int* which) const;
  void Queue(uint32_t controller);
  void NotePending(uint32_t controller);
  void Step(const FILETIME& now, uint64_t elapsedMs);
  bool HasWork() const;

  void ThreadMain();
  // The journal of ".FC" writes (kRaltoOpcFcJournalValue), when one is set.
  void OpenFcJournal();
  void JournalFcWrite(const RaltoFcWrite& write);

  std::mutex reloadMutex_;  // one reload at a time; taken before mutex_
  mutable std::mutex mutex_;
  CRaltoAddressSpace items_;
  std::vector<uint32_t> owner_;  // item index -> controller index
  std::vector<CRaltoController> controllers_;
  std::unordered_map<std::string, uint32_t> controllerIndex_;
  std::unordered_map<uint32_t, Producer> producers_;
  std::string directory_;  // "" = the configuration server's setting
  std::vector<uint32_t> queue_;    // controllers to scan
  std::vector<uint32_t> pending_;  // controllers with held-back elements
  bool incoherent_ = false;
  std::unique_ptr<ae::ManualClock> manualClock_;
  uint64_t lastStepMs_ = 0;  // steady time of the last scan on the system clock
  DWORD randomRate_ = 0;
  double randomCarry_ = 0;
  DWORD panelAckRate_ = 0;  // acknowledgements at the controllers' panels per second
  double panelAckCarry_ = 0;
  std::mt19937 random_;
  std::vector<RaltoFcWrite> fcWrites_;
  int fcJournal_ = -1;

  bool stop_ = false;
  std::condition_variable wake_;
  std::thread thread_;
};
