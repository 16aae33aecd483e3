// The lasting enable settings of areas and sources: which of them clients
// have disabled, by qualified name. They outlive the sources they name, so
// sources built again under the same names (a re-import, a reconnect) come
// back with them.
//
// Contract: a value type; not thread-safe (the source cache guards it).
// Everything is enabled until disabled. The root area is "". Areas are
// split at CAESource::AreaDelimiter().
#pragma once

#include <string>
#include <unordered_set>

class CAEEnableSettings {
 public:
  void Set(const std::string& name, bool isArea, bool enabled);
  // The own setting of one area or source.
  bool Enabled(const std::string& name, bool isArea) const;
  // The area and every area above it.
  bool AreaEffectivelyEnabled(const std::string& area) const;
  // The source's own setting and that of its area and every area above.
  bool SourceEffectivelyEnabled(const std::string& source, const std::string& area) const;
  void Clear();

 private:
  std::unordered_set<std::string> disabledAreas_;
  std::unordered_set<std::string> disabledSources_;
};
