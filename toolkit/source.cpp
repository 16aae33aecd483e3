#include "toolkit/source.h"

#include "toolkit/condition.h"

namespace {
std::atomic<char> g_areaDelimiter{'/'};
}

CAESource::CAESource(std::string name, int flag) : name_(std::move(name)) {
  size_t cut = flag == 1 ? name_.rfind(AreaDelimiter()) : std::string::npos;
  if (cut == std::string::npos) {
    shortName_ = name_;
  } else {
    area_ = name_.substr(0, cut);
    shortName_ = name_.substr(cut + 1);
  }
}

CAESource::~CAESource() = default;

CAECondition* CAESource::AddCondition(const CAECondition& condition) {
  std::lock_guard lock(mutex_);
  for (const auto& c : conditions_) {
    if (c->Name() == condition.Name()) return nullptr;
  }
  conditions_.push_back(std::make_unique<CAECondition>(condition));
  conditions_.back()->parent_ = this;
  return conditions_.back().get();
}

int CAESource::NumberOfConditions() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(conditions_.size());
}

CAECondition* CAESource::GetConditionAt(int i) {
  std::lock_guard lock(mutex_);
  return i >= 0 && i < static_cast<int>(conditions_.size()) ? conditions_[i].get() : nullptr;
}

CAECondition* CAESource::GetCondition(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (const auto& c : conditions_) {
    if (c->Name() == name) return c.get();
  }
  return nullptr;
}

void CAESource::SetEnabledInHierarchy(bool enabled) {
  std::lock_guard lock(mutex_);
  if (enabled == enabledInHierarchy_) return;
  std::vector<bool> before;
  for (const auto& c : conditions_) before.push_back(c->EffectivelyEnabled());
  enabledInHierarchy_ = enabled;
  for (size_t i = 0; i < conditions_.size(); ++i) {
    if (conditions_[i]->EffectivelyEnabled() != before[i]) conditions_[i]->NotifyEnableChange();
  }
}

ULONG CAESource::Release() {
  ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

void CAESource::SetAreaDelimiter(char delimiter) { g_areaDelimiter.store(delimiter); }

char CAESource::AreaDelimiter() { return g_areaDelimiter.load(); }
