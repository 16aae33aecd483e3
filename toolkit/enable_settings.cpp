#include "toolkit/enable_settings.h"

#include "toolkit/area_tree.h"

void CAEEnableSettings::Set(const std::string& name, bool isArea, bool enabled) {
  auto& disabled = isArea ? disabledAreas_ : disabledSources_;
  if (enabled) {
    disabled.erase(name);
  } else {
    disabled.insert(name);
  }
}

bool CAEEnableSettings::Enabled(const std::string& name, bool isArea) const {
  return (isArea ? disabledAreas_ : disabledSources_).count(name) == 0;
}

bool CAEEnableSettings::AreaEffectivelyEnabled(const std::string& area) const {
  if (disabledAreas_.empty()) return true;
  std::string path = area;
  while (true) {
    if (disabledAreas_.count(path)) return false;
    if (path.empty()) return true;
    path = CAEAreaTree::ParentOf(path);
  }
}

bool CAEEnableSettings::SourceEffectivelyEnabled(const std::string& source, const std::string& area) const {
  return Enabled(source, false) && AreaEffectivelyEnabled(area);
}

void CAEEnableSettings::Clear() {
  disabledAreas_.clear();
  disabledSources_.clear();
}
