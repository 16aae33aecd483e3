// CAlarmStateReader: reads what a controller publishes for one alarm
// variable, its alarm state array (the state word and four event-time
// elements, one coherent synchronous read from the OPC DA server's cache),
// decodes it and builds the alarm message from the block's template.
//
//   state word   node "." block ".AS" (level, bit) or ".RS" (rate of change)
//   element i    the state word's name "[" i "]", i = 1..4
//   message      node "." block ".PI" (analog value) or ".ST" (bit status)
//
// Contract: every method REQUIRES g_ConfigMutex held (the variables belong
// to the store, which is the OPC DA client's) except across the pause and
// the OPC DA read, which the caller's Pause and Unlocked may use to release
// it (a server call that hangs must not hold up everyone else). Reads go through the
// IOPCSyncIO given (null: every read fails with E_FAIL); the values read
// are stored in the variables. An item is usable when the store has it and
// it has a server handle. One thread at a time.
#pragma once

#include <functional>
#include <string>

#include "alarmconfig/alarm_var_store.h"
#include "alarmproc/alarm_dump_file.h"
#include "alarmproc/alarm_event.h"
#include "platform/opcda.h"

class CAlarmStateReader {
 public:
  // ReadAlarmEvent results.
  static constexpr int kReadOk = 0;
  static constexpr int kReadFailed = 8;
  // The pause or the read gave up: the variable may be gone and must not
  // be touched.
  static constexpr int kReadAbandoned = 12;
  // The array's items changed while the lock was let go for the read (a
  // refresh rebuilt them): nothing was stored; read the variable again.
  static constexpr int kReadStale = 13;
  // The OPC DA server failed the read call itself (not an item of it):
  // it does not answer, so nothing it publishes can be trusted now.
  static constexpr int kReadServerFailed = 14;
  // ReadEventTime results.
  static constexpr int kTimeOk = 0;
  static constexpr int kTimeMissing = 1;
  static constexpr int kTimeBadKind = 9;

  // Waits `ms` between two attempts of an incoherent read. False gives up
  // the read; true promises that the store and the variable are still
  // there (and g_ConfigMutex held again).
  using Pause = std::function<bool(DWORD ms)>;
  // Runs `call` (the OPC DA read), and may let g_ConfigMutex go meanwhile.
  // False gives up the read; true promises as Pause does.
  using Unlocked = std::function<bool(const std::function<void()>& call)>;

  // What one ReadStateArray attempt found.
  struct StateArrayRead {
    bool success = false;
    AlarmKind kind = kAlarmLevel;
    // The controller completed an alarm (activation and return to normal)
    // between the previous read and this one.
    bool completed = false;
    bool retry = false;
    bool abandoned = false;     // Unlocked gave up
    bool stale = false;         // the items changed meanwhile
    bool serverFailed = false;  // the server failed the read call
    std::string diagnostic;  // when dumping: why it asks for a retry
  };

  // A null `pause` sleeps; a null `unlocked` calls with the lock held.
  CAlarmStateReader(IOPCSyncIO* syncIO, CAlarmVarStore& variables, DWORD retrySleepMs = 200,
                    Pause pause = {}, Unlocked unlocked = {});

  // Fills `event` for an ".AS"/".RS" variable (any other is left empty,
  // result 0): up to 4 attempts of ReadStateArray while they ask for a
  // retry (their diagnostics to `dump`, a pause between two), the state,
  // acknowledged bit and flags decoded, the base name, the message and the
  // activation time. kReadOk; kReadFailed when the array or the activation
  // time cannot be read; kReadServerFailed when the server failed the
  // array's read call; kReadAbandoned when the pause or the read gave up;
  // kReadStale when the items changed during the read.
  int ReadAlarmEvent(AlarmVar& variable, AlarmEvent& event, bool& completed, CAlarmDumpFile* dump);
  // One coherent read of the state word and its usable elements [1]..[4]
  // (stopping at the first unusable one), stored in the variables. An
  // element whose time stamp differs from the state word's makes the read
  // incoherent: it fails and asks for a retry.
  StateArrayRead ReadStateArray(AlarmVar& variable, bool dumping);
  // The event time of elements (a, b) of the alarm `base` ("node.block")
  // of `kind`, from the values the last read stored: the seconds of
  // element b (controller's local time since 1970) and the sub-second part
  // of element a (bits 0..15 for the pair (2, 3), else bits 16..31), as
  // UTC. Both zero: `out` is left as it is. kTimeOk; kTimeBadKind for a
  // kind other than 0, 3, 5; kTimeMissing when an element is absent or not
  // VT_UI4.
  int ReadEventTime(const std::string& base, AlarmKind kind, FILETIME& out, int a, int b) const;
  // The message: the kind's template with the first "%VAL" and the first
  // "%STATE" (any case) replaced. REQUIRES: event.kind and event.state set.
  void BuildAlarmMessage(const AlarmVar& variable, AlarmEvent& event);
  // Reads the block member node "." block "." suffix from the cache into
  // `out`: 1 on success, 0 otherwise.
  int ReadSiblingValue(const AlarmVar& variable, const char* suffix, VARIANT& out);

 private:
  AlarmVar* Usable(const std::string& itemId) const;
  // The server's read from its cache; *serverFailed (when given) tells
  // whether the call itself failed, as against one of its items.
  HRESULT Read(DWORD count, OPCHANDLE* handles, COpcTaskArray<OPCITEMSTATE>& states,
               COpcTaskArray<HRESULT>& errors, bool* serverFailed = nullptr);

  IOPCSyncIO* syncIO_;
  CAlarmVarStore& variables_;
  DWORD retrySleepMs_;
  Pause pause_;
  Unlocked unlocked_;
};
