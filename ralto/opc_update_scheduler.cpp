#include "ralto/opc_update_scheduler.h"

#include <chrono>

#include "platform/clock.h"
#include "ralto/opc_group.h"

CRaltoUpdateScheduler& CRaltoUpdateScheduler::Instance() {
  static CRaltoUpdateScheduler scheduler;
  return scheduler;
}

CRaltoUpdateScheduler::~CRaltoUpdateScheduler() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CRaltoUpdateScheduler::Register(CRaltoOpcGroup* group, DWORD rateMs, bool active) {
  {
    std::lock_guard lock(mutex_);
    groups_[group] = Entry{rateMs, active, ae::Clock::System().SteadyMs() + rateMs};
    if (!thread_.joinable()) thread_ = std::thread([this] { ThreadMain(); });
  }
  wake_.notify_all();
}

void CRaltoUpdateScheduler::Update(CRaltoOpcGroup* group, DWORD rateMs, bool active) {
  {
    std::lock_guard lock(mutex_);
    auto it = groups_.find(group);
    if (it == groups_.end()) return;
    Entry& entry = it->second;
    if (active && (!entry.active || rateMs != entry.rateMs)) {
      entry.dueMs = ae::Clock::System().SteadyMs() + rateMs;
    }
    entry.rateMs = rateMs;
    entry.active = active;
  }
  wake_.notify_all();
}

void CRaltoUpdateScheduler::Unregister(CRaltoOpcGroup* group) {
  std::lock_guard lock(mutex_);
  groups_.erase(group);
}

void CRaltoUpdateScheduler::SetManual(bool on) {
  {
    std::lock_guard lock(mutex_);
    manual_ = on;
  }
  wake_.notify_all();
}

void CRaltoUpdateScheduler::TickAll() {
  std::vector<CRaltoOpcGroup*> groups;
  {
    std::lock_guard lock(mutex_);
    groups = Collect(false, 0, nullptr);
  }
  Deliver(groups);
}

std::vector<CRaltoOpcGroup*> CRaltoUpdateScheduler::Collect(bool dueOnly, uint64_t nowMs, uint64_t* nextMs) {
  std::vector<CRaltoOpcGroup*> groups;
  for (auto& [group, entry] : groups_) {
    if (!entry.active) continue;
    if (dueOnly) {
      if (entry.dueMs <= nowMs) {
        entry.dueMs += entry.rateMs;
        if (entry.dueMs <= nowMs) entry.dueMs = nowMs + entry.rateMs;  // fell behind: no burst
        if (group->TryAddRef()) groups.push_back(group);
      }
      if (entry.dueMs < *nextMs) *nextMs = entry.dueMs;
    } else if (group->TryAddRef()) {
      groups.push_back(group);
    }
  }
  return groups;
}

void CRaltoUpdateScheduler::Deliver(const std::vector<CRaltoOpcGroup*>& groups) {
  for (CRaltoOpcGroup* group : groups) {
    group->DeliverChanges();
    group->Release();
  }
}

void CRaltoUpdateScheduler::ThreadMain() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (manual_) {
      wake_.wait(lock);
      continue;
    }
    uint64_t nowMs = ae::Clock::System().SteadyMs();
    uint64_t nextMs = UINT64_MAX;
    std::vector<CRaltoOpcGroup*> due = Collect(true, nowMs, &nextMs);
    if (!due.empty()) {
      lock.unlock();
      Deliver(due);
      lock.lock();
      continue;
    }
    if (nextMs == UINT64_MAX) {
      wake_.wait(lock);
    } else {
      wake_.wait_for(lock, std::chrono::milliseconds(nextMs - nowMs));
    }
  }
}
