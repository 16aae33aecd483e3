#include "ralto/opc_plant.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <unordered_set>

#include "platform/debug.h"
#include "platform/filetime.h"
#include "platform/opcda.h"
#include "platform/registry.h"
#include "ralto/opc_item_filter.h"

namespace {

constexpr uint32_t kNoController = UINT32_MAX;
constexpr uint64_t kScanPeriodMs = 100;

}  // namespace

CRaltoPlant& CRaltoPlant::Instance() {
  static CRaltoPlant plant;
  return plant;
}

CRaltoPlant::CRaltoPlant() {
  Reload();
  DWORD rate = 0;
  if (RegGetDword(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcRandomRateValue, rate) ==
      ERROR_SUCCESS) {
    randomRate_ = rate;
  }
  if (RegGetDword(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcRandomAckRateValue, rate) == ERROR_SUCCESS) {
    panelAckRate_ = rate;
  }
  OpenFcJournal();
  lastStepMs_ = ae::Clock::System().SteadyMs();
  thread_ = std::thread([this] { ThreadMain(); });
}

CRaltoPlant::~CRaltoPlant() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (fcJournal_ >= 0) close(fcJournal_);
}

void CRaltoPlant::OpenFcJournal() {
  std::string path;
  if (RegGetString(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcFcJournalValue, path) != ERROR_SUCCESS ||
      path.empty())
    return;
  fcJournal_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fcJournal_ < 0) DebugOutput("Ralto OPC server: the .FC write journal does not open: " + path + "\n");
}

void CRaltoPlant::JournalFcWrite(const RaltoFcWrite& write) {
  if (fcJournal_ < 0) return;
  // One write of the whole line: on a local file it lands whole or not at
  // all, and the page cache keeps it when the process dies right after.
  std::string line =
      std::to_string(FileTimeToUint64(write.time)) + " " + write.itemId + " " + std::to_string(write.value) + "\n";
  ssize_t n;
  do {
    n = ::write(fcJournal_, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(line.size())) DebugOutput("Ralto OPC server: an .FC write missed the journal\n");
}

std::shared_ptr<const std::vector<std::string>> CRaltoPlant::PresentIds() {
  std::lock_guard lock(mutex_);
  return items_.PresentIds();
}

HRESULT CRaltoPlant::Reload() {
  std::lock_guard reloading(reloadMutex_);
  std::string directory;
  std::unordered_map<uint32_t, Producer> known;
  {
    std::lock_guard lock(mutex_);
    directory = directory_;
    for (const auto& [id, producer] : producers_) known[id] = Producer{producer.node, producer.textHash, {}};
  }
  if (directory.empty()) {
    HRESULT hr = CRaltoPlantDocuments::DirectoryFromRegistry(directory);
    if (FAILED(hr)) return hr;
  }
  CRaltoPlantDocuments documents(directory);
  std::vector<RaltoProducerDef> defs;
  HRESULT hr = documents.ReadSummary(defs);
  if (FAILED(hr)) return hr;

  // The expensive part, parsing, happens before the plant is locked.
  HRESULT result = S_OK;
  std::vector<int> state(defs.size());  // 0 unchanged, 1 changed, -1 unreadable
  for (size_t i = 0; i < defs.size(); ++i) {
    auto it = known.find(defs[i].id);
    size_t knownHash = it != known.end() && it->second.node == defs[i].node ? it->second.textHash : 0;
    bool changed = false;
    if (FAILED(documents.ReadProducer(defs[i], knownHash, &changed))) {
      state[i] = -1;
      result = S_FALSE;
    } else {
      state[i] = changed ? 1 : 0;
    }
  }

  std::lock_guard lock(mutex_);
  FILETIME now = CurrentClock().NowUtc();
  std::unordered_set<uint32_t> listed;
  for (size_t i = 0; i < defs.size(); ++i) {
    listed.insert(defs[i].id);
    if (state[i] == 1) ApplyProducer(defs[i], producers_[defs[i].id], now);
  }
  for (auto it = producers_.begin(); it != producers_.end();) {
    if (listed.count(it->first)) {
      ++it;
    } else {
      DropProducer(it->second);
      it = producers_.erase(it);
    }
  }
  return result;
}

HRESULT CRaltoPlant::SetDocumentDirectory(const std::string& directory) {
  {
    std::lock_guard lock(mutex_);
    directory_ = directory;
  }
  return Reload();
}

void CRaltoPlant::ApplyProducer(const RaltoProducerDef& def, Producer& producer, const FILETIME& now) {
  std::vector<uint32_t> controllers;
  std::unordered_set<uint32_t> kept;
  for (const RaltoBlockDef& block : def.blocks) {
    uint32_t c = ControllerOf(def.node + "." + block.name);
    if (!kept.insert(c).second) continue;
    controllers_[c].Bind(block, items_, now);
    owner_.resize(items_.size(), kNoController);
    controllers_[c].ForEachItem([&](uint32_t index) { owner_[index] = c; });
    controllers.push_back(c);
  }
  for (uint32_t c : producer.controllers) {
    if (!kept.count(c)) controllers_[c].Unbind(items_);
  }
  producer.node = def.node;
  producer.textHash = def.textHash;
  producer.controllers = std::move(controllers);
}

void CRaltoPlant::DropProducer(Producer& producer) {
  for (uint32_t c : producer.controllers) controllers_[c].Unbind(items_);
  producer.controllers.clear();
}

uint32_t CRaltoPlant::ControllerOf(const std::string& blockId) {
  auto [it, added] = controllerIndex_.emplace(blockId, static_cast<uint32_t>(controllers_.size()));
  if (added) controllers_.emplace_back(blockId);
  return it->second;
}

const ae::Clock& CRaltoPlant::CurrentClock() const {
  if (manualClock_) return *manualClock_;
  return ae::Clock::System();
}

HRESULT CRaltoPlant::Write(uint32_t index, const VARIANT& value) {
  std::lock_guard lock(mutex_);
  const RaltoItem& item = items_.at(index);
  if (!item.present) return OPC_E_UNKNOWNITEMID;
  if (!(item.rights & OPC_WRITEABLE)) return OPC_E_BADRIGHTS;
  VARIANT converted = value;
  HRESULT hr = converted.ChangeType(item.type);
  if (hr == DISP_E_OVERFLOW) return OPC_E_RANGE;
  if (FAILED(hr)) return OPC_E_BADTYPE;
  uint32_t c = owner_[index];
  CRaltoController& controller = controllers_[c];
  if (!controller.IsFcItem(index)) return OPC_E_BADRIGHTS;
  FILETIME now = CurrentClock().NowUtc();
  fcWrites_.push_back(RaltoFcWrite{item.id, converted.lVal, now});
  JournalFcWrite(fcWrites_.back());
  controller.StoreFc(converted.lVal, now, items_);
  // The acknowledgement word: (flags << 8) + 1 for the level or bit alarm,
  // + 2 for the rate-of-change alarm.
  switch (converted.lVal & 0xFF) {
    case 1:
      controller.Acknowledge(CRaltoController::kLevel, now, items_, incoherent_);
      break;
    case 2:
      controller.Acknowledge(CRaltoController::kRateOfChange, now, items_, incoherent_);
      break;
    default:
      break;
  }
  NotePending(c);
  return S_OK;
}

HRESULT CRaltoPlant::FindAlarm(const std::string& stateWordItemId, uint32_t* controller, int* which) const {
  uint32_t index = items_.Find(stateWordItemId);
  if (index == CRaltoAddressSpace::kNoItem || !items_.at(index).present) return OPC_E_UNKNOWNITEMID;
  *controller = owner_[index];
  *which = controllers_[*controller].AlarmOfWord(index);
  return *which < 0 ? E_INVALIDARG : S_OK;
}

HRESULT CRaltoPlant::SetAlarm(const std::string& stateWordItemId, const RaltoAlarmSetting& alarm) {
  std::lock_guard lock(mutex_);
  uint32_t c;
  int which;
  if (HRESULT hr = FindAlarm(stateWordItemId, &c, &which); FAILED(hr)) return hr;
  CRaltoController& controller = controllers_[c];
  if (!controller.ValidState(which, alarm.state)) return E_INVALIDARG;
  controller.SetAlarm(which, alarm, CurrentClock().NowUtc(), items_, incoherent_);
  NotePending(c);
  return S_OK;
}

HRESULT CRaltoPlant::Acknowledge(const std::string& stateWordItemId) {
  std::lock_guard lock(mutex_);
  uint32_t c;
  int which;
  if (HRESULT hr = FindAlarm(stateWordItemId, &c, &which); FAILED(hr)) return hr;
  controllers_[c].Acknowledge(which, CurrentClock().NowUtc(), items_, incoherent_);
  NotePending(c);
  return S_OK;
}

HRESULT CRaltoPlant::Clear(const std::string& stateWordItemId) {
  std::lock_guard lock(mutex_);
  uint32_t c;
  int which;
  if (HRESULT hr = FindAlarm(stateWordItemId, &c, &which); FAILED(hr)) return hr;
  controllers_[c].Clear(which, CurrentClock().NowUtc(), items_, incoherent_);
  NotePending(c);
  return S_OK;
}

HRESULT CRaltoPlant::SetProcessValue(const std::string& blockId, double value) {
  if (!std::isfinite(value)) return E_INVALIDARG;
  {
    std::lock_guard lock(mutex_);
    auto it = controllerIndex_.find(blockId);
    if (it == controllerIndex_.end() || !controllers_[it->second].present()) return OPC_E_UNKNOWNITEMID;
    controllers_[it->second].SetProcessValue(value);
    Queue(it->second);
  }
  wake_.notify_all();
  return S_OK;
}

HRESULT CRaltoPlant::UseManualClock(FILETIME startUtc) {
  std::lock_guard lock(mutex_);
  manualClock_ = std::make_unique<ae::ManualClock>(startUtc);
  return S_OK;
}

HRESULT CRaltoPlant::AdvanceClock(DWORD ms) {
  std::lock_guard lock(mutex_);
  if (!manualClock_) return E_UNEXPECTED;
  manualClock_->Advance(ms);
  Step(manualClock_->NowUtc(), ms);
  return S_OK;
}

HRESULT CRaltoPlant::RunRandomPlant(DWORD changesPerSecond, DWORD seed) {
  {
    std::lock_guard lock(mutex_);
    randomRate_ = changesPerSecond;
    randomCarry_ = 0;
    random_.seed(seed);
  }
  wake_.notify_all();
  return S_OK;
}

HRESULT CRaltoPlant::RunRandomAcknowledgements(DWORD perSecond) {
  {
    std::lock_guard lock(mutex_);
    panelAckRate_ = perSecond;
    panelAckCarry_ = 0;
  }
  wake_.notify_all();
  return S_OK;
}

HRESULT CRaltoPlant::SetIncoherentUpdates(bool on) {
  std::lock_guard lock(mutex_);
  incoherent_ = on;
  return S_OK;
}

std::vector<RaltoFcWrite> CRaltoPlant::FcWrites() const {
  std::lock_guard lock(mutex_);
  return fcWrites_;
}

std::vector<RaltoFcWrite> CRaltoPlant::FcWritesSince(size_t since, size_t* total) const {
  std::lock_guard lock(mutex_);
  *total = fcWrites_.size();
  if (since >= fcWrites_.size()) return {};
  return std::vector<RaltoFcWrite>(fcWrites_.begin() + static_cast<ptrdiff_t>(since), fcWrites_.end());
}

HRESULT CRaltoPlant::Blocks(const std::string& pattern, std::vector<RaltoBlockSnapshot>* blocks) const {
  if (!IsValidItemFilter(pattern)) return E_INVALIDARG;
  blocks->clear();
  std::lock_guard lock(mutex_);
  for (const CRaltoController& controller : controllers_) {
    if (!controller.present() || !MatchItemFilter(controller.id(), pattern)) continue;
    RaltoBlockSnapshot& block = blocks->emplace_back();
    block.id = controller.id();
    block.digital = controller.digital();
    block.value = controller.ProcessValue();
    controller.ForEachItem([&](uint32_t index) { block.itemIds.push_back(items_.at(index).id); });
    for (int which : {CRaltoController::kLevel, CRaltoController::kRateOfChange}) {
      uint32_t word = controller.WordOf(which);
      if (word == CRaltoAddressSpace::kNoItem) continue;
      block.alarms.push_back({items_.at(word).id, which, controller.AlarmSetting(which)});
    }
  }
  return S_OK;
}

FILETIME CRaltoPlant::Now() const {
  std::lock_guard lock(mutex_);
  return CurrentClock().NowUtc();
}

void CRaltoPlant::Queue(uint32_t c) {
  if (controllers_[c].scanQueued) return;
  controllers_[c].scanQueued = true;
  queue_.push_back(c);
}

void CRaltoPlant::NotePending(uint32_t c) {
  if (controllers_[c].pendingQueued || !controllers_[c].HasPendingElements()) return;
  controllers_[c].pendingQueued = true;
  pending_.push_back(c);
  wake_.notify_all();  // the plant thread publishes them at its next scan
}

void CRaltoPlant::Step(const FILETIME& now, uint64_t elapsedMs) {
  // The second half of the incoherent updates made since the last scan.
  for (uint32_t c : pending_) {
    controllers_[c].pendingQueued = false;
    controllers_[c].ApplyPendingElements(now, items_);
  }
  pending_.clear();

  // Random process changes, then the operators at the panels, each at its
  // rate with the fraction carried to the next step.
  auto due = [elapsedMs](DWORD rate, double& carry) {
    carry += double(rate) * double(elapsedMs) / 1000.0;
    auto count = static_cast<uint64_t>(carry);
    carry -= double(count);
    return count;
  };
  if (!controllers_.empty()) {
    std::uniform_int_distribution<uint32_t> pick(0, static_cast<uint32_t>(controllers_.size() - 1));
    for (uint64_t i = due(randomRate_, randomCarry_); i > 0; --i) {
      uint32_t c = pick(random_);
      if (!controllers_[c].present()) continue;
      controllers_[c].RandomChange(random_);
      Queue(c);
    }
    for (uint64_t i = due(panelAckRate_, panelAckCarry_); i > 0; --i) {
      CRaltoController& controller = controllers_[pick(random_)];
      if (!controller.present()) continue;
      controller.Acknowledge(CRaltoController::kLevel, now, items_, incoherent_);
      controller.Acknowledge(CRaltoController::kRateOfChange, now, items_, incoherent_);
    }
  }

  std::vector<uint32_t> scanning;
  scanning.swap(queue_);
  for (uint32_t c : scanning) {
    CRaltoController& controller = controllers_[c];
    controller.scanQueued = false;
    if (!controller.present()) continue;
    if (controller.Scan(now, elapsedMs, items_, incoherent_)) Queue(c);
    NotePending(c);
  }
}

bool CRaltoPlant::HasWork() const {
  return randomRate_ > 0 || panelAckRate_ > 0 || !queue_.empty() || !pending_.empty();
}

void CRaltoPlant::ThreadMain() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (manualClock_ || !HasWork()) {
      wake_.wait(lock);
      lastStepMs_ = ae::Clock::System().SteadyMs();
      continue;
    }
    wake_.wait_for(lock, std::chrono::milliseconds(kScanPeriodMs), [this] { return stop_; });
    if (stop_ || manualClock_) continue;
    uint64_t nowMs = ae::Clock::System().SteadyMs();
    uint64_t elapsed = nowMs - lastStepMs_;
    lastStepMs_ = nowMs;
    Step(ae::Clock::System().NowUtc(), elapsed);
  }
}
