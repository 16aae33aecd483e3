#include "toolkit/source_cache.h"

CAESourceCache g_SourceCache;

CAESourceCache::~CAESourceCache() { Clear(1); }

int CAESourceCache::NumberOfSources() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(sources_.size());
}

CAESource* CAESourceCache::GetSourceAt(int i) {
  std::lock_guard lock(mutex_);
  return i >= 0 && i < static_cast<int>(sources_.size()) ? sources_[i] : nullptr;
}

CAESource* CAESourceCache::GetSource(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : sources_[it->second];
}

CAESourcePtr CAESourceCache::FindSource(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = index_.find(name);
  return it == index_.end() ? CAESourcePtr() : CAESourcePtr(sources_[it->second]);
}

int CAESourceCache::AddSource(CAESource* source) {
  if (!source) return 0;
  {
    std::lock_guard lock(mutex_);
    if (index_.emplace(source->Name(), sources_.size()).second) {
      sources_.push_back(source);
      areas_.AddSource(*source);
      // New to every client: no ENABLE_STATE event.
      std::lock_guard sourceLock(*source);
      source->enabledInHierarchy_ = enableSettings_.SourceEffectivelyEnabled(source->Name(), source->Area());
      return 1;
    }
  }
  source->Release();
  return 0;
}

int CAESourceCache::RemoveSource(const std::string& name) {
  CAESourcePtr removed;
  {
    std::lock_guard lock(mutex_);
    auto it = index_.find(name);
    if (it == index_.end()) return 0;
    size_t pos = it->second;
    removed = CAESourcePtr::Adopt(sources_[pos]);
    index_.erase(it);
    if (pos + 1 != sources_.size()) {
      sources_[pos] = sources_.back();
      index_[sources_[pos]->Name()] = pos;
    }
    sources_.pop_back();
    areas_.RemoveSource(*removed);
  }
  return 1;  // `removed` releases the cache's reference outside the internal lock
}

std::vector<CAESourcePtr> CAESourceCache::Clear(int dispose) {
  std::vector<CAESourcePtr> sources;
  {
    std::lock_guard lock(mutex_);
    sources.reserve(sources_.size());
    for (CAESource* s : sources_) sources.push_back(CAESourcePtr::Adopt(s));
    sources_.clear();
    index_.clear();
    areas_.Clear();
    enableSettings_.Clear();
  }
  // Dropped outside the internal lock: a last release runs the source's destructor.
  if (dispose) sources.clear();
  return sources;
}

std::vector<CAESourcePtr> CAESourceCache::Snapshot() {
  std::lock_guard lock(mutex_);
  std::vector<CAESourcePtr> all;
  all.reserve(sources_.size());
  for (CAESource* s : sources_) all.emplace_back(s);
  return all;
}

bool CAESourceCache::HasArea(const std::string& area) {
  std::lock_guard lock(mutex_);
  return areas_.HasArea(area);
}

std::vector<std::string> CAESourceCache::ChildAreas(const std::string& area) {
  std::lock_guard lock(mutex_);
  return areas_.ChildAreas(area);
}

std::vector<std::string> CAESourceCache::SourceNamesInArea(const std::string& area) {
  std::lock_guard lock(mutex_);
  return areas_.SourceNames(area);
}

std::string CAESourceCache::QualifiedSourceName(const std::string& area, const std::string& shortName) {
  std::lock_guard lock(mutex_);
  return areas_.QualifiedSourceName(area, shortName);
}

std::vector<std::string> CAESourceCache::AllAreas() {
  std::lock_guard lock(mutex_);
  return areas_.AllAreas();
}

bool CAESourceCache::SetEnabled(const std::string& name, bool isArea, bool enabled) {
  std::vector<CAESourcePtr> covered;
  {
    std::lock_guard lock(mutex_);
    if (isArea ? !areas_.HasArea(name) : index_.count(name) == 0) return false;
    enableSettings_.Set(name, isArea, enabled);
    if (!isArea) {
      covered.emplace_back(sources_[index_[name]]);
    } else {
      std::string below = name + CAESource::AreaDelimiter();
      for (CAESource* s : sources_) {
        const std::string& area = s->Area();
        if (name.empty() || area == name || area.compare(0, below.size(), below) == 0) covered.emplace_back(s);
      }
    }
  }
  // One source at a time, so that the alarm road waits for one at most.
  // Each reads the settings as they are then: a change racing this one
  // leaves every source as the later settings say.
  for (const CAESourcePtr& s : covered) {
    std::lock_guard lock(mutex_);
    auto it = index_.find(s->Name());
    if (it == index_.end() || sources_[it->second] != s.Get()) continue;  // removed meanwhile
    s->SetEnabledInHierarchy(enableSettings_.SourceEffectivelyEnabled(s->Name(), s->Area()));
  }
  return true;
}

bool CAESourceCache::GetEnabled(const std::string& name, bool isArea, bool& enabled, bool& effectivelyEnabled) {
  std::lock_guard lock(mutex_);
  if (isArea) {
    if (!areas_.HasArea(name)) return false;
    effectivelyEnabled = enableSettings_.AreaEffectivelyEnabled(name);
  } else {
    auto it = index_.find(name);
    if (it == index_.end()) return false;
    effectivelyEnabled = enableSettings_.SourceEffectivelyEnabled(name, sources_[it->second]->Area());
  }
  enabled = enableSettings_.Enabled(name, isArea);
  return true;
}
