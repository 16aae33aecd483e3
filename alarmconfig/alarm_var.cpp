#include "alarmconfig/alarm_var.h"

std::string MakeItemId(const std::string& nodeName, const std::string& itemName) {
  std::string id;
  id.reserve(nodeName.size() + 1 + itemName.size());
  id += nodeName;
  id += '.';
  id += itemName;
  return id;
}

std::string AlarmVar::ItemId() const { return MakeItemId(nodeName, itemName); }

std::string_view AlarmVar::KindSuffix() const {
  std::string_view name = itemName;
  return name.size() <= 3 ? name : name.substr(name.size() - 3);
}

std::string AlarmVar::BlockName() const {
  size_t dot = itemName.rfind('.');
  return dot == std::string::npos ? itemName : itemName.substr(0, dot);
}
