#include "alarmconfig/source_name.h"

#include <algorithm>

std::string SourceBaseName(const std::string& area, const std::string& nodeName,
                           const std::string& blockName) {
  std::string name;
  name.reserve(area.size() + nodeName.size() + blockName.size() + 2);
  if (!area.empty()) {
    name += area;
    name += '/';
  }
  name += nodeName;
  name += '_';
  size_t blockStart = name.size();
  name += blockName;
  std::replace(name.begin() + static_cast<std::ptrdiff_t>(blockStart), name.end(), '.', '_');
  return name;
}

std::string SourceBaseName(const AlarmVar& variable) {
  return SourceBaseName(variable.area, variable.nodeName, variable.BlockName());
}

std::string BuildSourceName(const std::string& baseName, AlarmKind kind) {
  return baseName + "." + SourceKindSuffix(kind);
}
