#include "alarmproc/alarm_processor.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "alarmconfig/tracked_mutex.h"
#include "alarmproc/alarm_dump_file.h"
#include "alarmproc/alarm_state_reader.h"
#include "alarmproc/condition_updater.h"
#include "opcda/alarm_requests.h"
#include "opcda/connection_manager.h"
#include "opcda/opc_da_client.h"
#include "platform/debug.h"
#include "platform/registry.h"
#include "platform/sync.h"

namespace {

constexpr char kAlarmLogKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\AlarmLog";
// The path is read into a 255-byte buffer of two-byte characters.
constexpr size_t kMaxPathCharacters = 126;

std::string ReadDumpPath() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kAlarmLogKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  std::string path;
  LONG result = RegGetString(key, "", "AlarmSendOutFile", path);
  RegCloseKey(key);
  size_t characters = 0;
  for (unsigned char c : path) characters += (c & 0xC0) != 0x80;
  return result == ERROR_SUCCESS && characters <= kMaxPathCharacters ? path : std::string();
}

// The connection's client when `variable` is still one of its variables
// (one with an OPC item): the queue holds plain pointers, and a variable
// may have left since it was queued. REQUIRES: g_ConfigMutex held.
CAlarmVarStore* OwnerOf(const AlarmVar* variable) {
  if (!g_pConnectionManager || !g_pConnectionManager->client) return nullptr;
  C_OPC_DA_Client* client = g_pConnectionManager->client.get();
  return client->reverseHandleMap.contains(variable) ? client : nullptr;
}

void WritePassHeader(CAlarmDumpFile& dump) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  dump.Write("\r\n (ALARM SEND OUT TIME) :  " + std::to_string(local.tm_hour) + " : " +
             std::to_string(local.tm_min) + " : " + std::to_string(local.tm_sec) + "\r\n\r\n");
}

}  // namespace

struct CAlarmProcessor::Worker {
  Worker(const Timing& t, ae::Clock& c, std::string path) : timing(t), clock(c), dumpPath(std::move(path)) {}

  const Timing timing;
  ae::Clock& clock;
  const std::string dumpPath;
  ae::Event stop{ae::Event::kAutoReset};
  std::atomic<bool> stopping{false};
  ae::Event ended{ae::Event::kManualReset};
  std::atomic<DWORD> cookie{0};

  // The server read in progress, for the watch thread.
  ae::Event watchStop{ae::Event::kManualReset};
  std::mutex readMutex;  // guards the three below
  bool reading = false;
  uint64_t readSince = 0;   // clock.SteadyMs() at its call
  uint64_t readNumber = 0;  // of reads so far
};

CAlarmProcessor::CAlarmProcessor() : CAlarmProcessor(Timing(), ae::Clock::System()) {}

CAlarmProcessor::CAlarmProcessor(Timing timing, ae::Clock& clock) : timing_(timing), clock_(clock) {
  setenv("RaltoOpcDaCoherentReadEnabled", "1", 1);
  dumpPath_ = ReadDumpPath();
}

CAlarmProcessor::~CAlarmProcessor() { StopProcessor(); }

bool CAlarmProcessor::StartProcessor(DWORD syncIOCookie) {
  std::lock_guard lock(mutex_);
  if (!worker_) {
    worker_ = std::make_shared<Worker>(timing_, clock_, dumpPath_);
    worker_->cookie = syncIOCookie;
    thread_ = std::thread(Run, worker_);
  }
  worker_->cookie = syncIOCookie;
  return true;
}

void CAlarmProcessor::StopProcessor() {
  std::shared_ptr<Worker> worker;
  std::thread thread;
  {
    std::lock_guard lock(mutex_);
    worker = std::move(worker_);
    thread = std::move(thread_);
  }
  if (!worker) return;
  worker->stopping = true;
  worker->stop.Set();
  if (worker->ended.Wait(timing_.stopLimitMs)) {
    thread.join();
    return;
  }
  DebugOutput("Terminating AlarmProcessor\n");
  thread.detach();
  std::lock_guard lock(mutex_);
  abandoned_ = worker;
}

bool CAlarmProcessor::IsRunning() {
  std::lock_guard lock(mutex_);
  return worker_ != nullptr;
}

bool CAlarmProcessor::TEST_WaitForAbandonedThread(DWORD ms) {
  std::shared_ptr<Worker> worker;
  {
    std::lock_guard lock(mutex_);
    worker = abandoned_.lock();
  }
  return !worker || worker->ended.Wait(ms);
}

void CAlarmProcessor::Run(const std::shared_ptr<Worker>& worker) {
  Worker& w = *worker;
  std::thread watch(WatchReads, std::ref(w));
  uint64_t lastCheck = w.clock.SteadyMs();
  while (!w.stopping) {
    DWORD woke = ae::WaitAny({&w.stop, &alarmRequests.readyEvent}, w.timing.waitMs);
    if (woke == WAIT_OBJECT_0 || w.stopping) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      RunPass(w);
    } else if (woke != WAIT_TIMEOUT) {
      continue;
    }
    uint64_t now = w.clock.SteadyMs();
    if (now - lastCheck > w.timing.reconnectCheckMs) {
      // Connect does nothing while connected or connecting.
      TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
      if (g_pConnectionManager) g_pConnectionManager->Connect();
      lastCheck = now;
    }
  }
  w.watchStop.Set();
  watch.join();
  w.ended.Set();
}

void CAlarmProcessor::WatchReads(Worker& w) {
  uint64_t disconnectedFor = 0;  // the read that last cost the connection
  DWORD period = DWORD(std::clamp<uint64_t>(w.timing.hungReadMs / 4, 1, 1000));
  while (ae::WaitAny({&w.watchStop}, period) == WAIT_TIMEOUT && !w.stopping) {
    uint64_t number = 0;
    {
      std::lock_guard lock(w.readMutex);
      if (!w.reading || w.clock.SteadyMs() - w.readSince < w.timing.hungReadMs) continue;
      number = w.readNumber;
    }
    if (number == disconnectedFor) continue;
    disconnectedFor = number;
    // The processor waits for the call without g_ConfigMutex; the
    // disconnect leaves it the objects the call uses.
    DebugOutput("OPC DA server does not answer a read: disconnecting\n");
    TrackedMutexGuard config(g_ConfigMutex, AE_SITE);
    if (g_pConnectionManager) g_pConnectionManager->Disconnect();
  }
}

void CAlarmProcessor::RunPass(Worker& w) {
  CAlarmDumpFile file;
  CAlarmDumpFile* dump = file.Open(w.dumpPath) ? &file : nullptr;
  if (dump) WritePassHeader(*dump);

  std::vector<AlarmVar*> list;
  alarmRequests.TakeAll(&list);

  size_t emptySources = 0;
  for (AlarmVar* variable : list) {
    if (w.stopping) break;
    std::optional<TrackedMutexGuard> config;
    config.emplace(g_ConfigMutex, AE_SITE);
    CAlarmVarStore* store = OwnerOf(variable);
    if (!store) continue;
    // Per variable, under the lock: a refresh may have rebuilt the group.
    ComPtr<IOPCSyncIO> syncIO;
    if (g_pGlobalInterfaceTable)
      g_pGlobalInterfaceTable->GetInterfaceFromGlobal(w.cookie, IID_IOPCSyncIO, syncIO.PutVoid());
    // The lock goes during the server's read and between two attempts (a
    // hung server must not hold up the rest of the program), so the
    // variable must be checked again after either.
    auto relock = [&] {
      if (w.stopping) return false;
      config.emplace(g_ConfigMutex, AE_SITE);
      return OwnerOf(variable) == store;
    };
    auto pause = [&](DWORD ms) {
      config.reset();
      if (ae::WaitAny({&w.stop}, ms) == WAIT_OBJECT_0) return false;
      return relock();
    };
    auto unlocked = [&](const std::function<void()>& call) {
      config.reset();
      {
        std::lock_guard lock(w.readMutex);
        w.reading = true;
        w.readSince = w.clock.SteadyMs();
        ++w.readNumber;
      }
      call();
      {
        std::lock_guard lock(w.readMutex);
        w.reading = false;
      }
      return relock();
    };
    CAlarmStateReader reader(syncIO.Get(), *store, w.timing.retrySleepMs, pause, unlocked);
    AlarmEvent event;
    bool completed = false;
    int result = reader.ReadAlarmEvent(*variable, event, completed, dump);
    if (result == CAlarmStateReader::kReadAbandoned) continue;
    if (result == CAlarmStateReader::kReadStale) {
      // Read again in the next pass, through the rebuilt items.
      alarmRequests.Add(variable);
      alarmRequests.Signal();
      continue;
    }
    if (result != CAlarmStateReader::kReadOk) {
      if (dump) dump->Write(variable->nodeName + " " + variable->itemName + " , could not read value of this tag \r\n");
      if (result == CAlarmStateReader::kReadServerFailed) {
        // A server that fails its reads has lost the alarms it publishes:
        // skipping the change would leave the alarm as it was for good.
        // The connection goes instead (every source shows bad quality) and
        // the minute's check connects again, reading every alarm anew.
        DebugOutput("OPC DA server failed a read: disconnecting\n");
        if (g_pConnectionManager) g_pConnectionManager->Disconnect();
        break;
      }
      continue;
    }
    CConditionUpdater(reader, dump).Apply(*variable, event, completed, list.size(), emptySources);
  }
}
