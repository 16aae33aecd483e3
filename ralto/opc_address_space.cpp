#include "ralto/opc_address_space.h"

#include <cstring>

uint32_t CRaltoAddressSpace::Find(std::string_view id) const {
  auto it = index_.find(id);
  return it == index_.end() ? kNoItem : it->second;
}

uint32_t CRaltoAddressSpace::Add(const std::string& id, VARTYPE type, DWORD rights) {
  uint32_t index = Find(id);
  if (index == kNoItem) {
    index = size();
    items_.push_back(RaltoItem{});
    items_.back().id = id;
    index_.emplace(id, index);
  } else if (items_[index].present && items_[index].type == type && items_[index].rights == rights) {
    return index;
  }
  RaltoItem& item = items_[index];
  item.type = type;
  item.rights = rights;
  item.present = true;
  item.changeSeq = ++seq_;
  presentIds_.reset();
  return index;
}

void CRaltoAddressSpace::Remove(uint32_t index) {
  if (!items_[index].present) return;
  items_[index].present = false;
  presentIds_.reset();
}

void CRaltoAddressSpace::Publish(uint32_t index, uint32_t raw, const FILETIME& time) {
  RaltoItem& item = items_[index];
  item.time = time;
  if (item.raw == raw) return;
  item.raw = raw;
  item.changeSeq = ++seq_;
}

std::shared_ptr<const std::vector<std::string>> CRaltoAddressSpace::PresentIds() {
  if (!presentIds_) {
    auto ids = std::make_shared<std::vector<std::string>>();
    ids->reserve(items_.size());
    for (const RaltoItem& item : items_) {
      if (item.present) ids->push_back(item.id);
    }
    presentIds_ = std::move(ids);
  }
  return presentIds_;
}

VARIANT CRaltoAddressSpace::ValueOf(const RaltoItem& item) {
  switch (item.type) {
    case VT_I4:
      return VARIANT::I4(static_cast<int32_t>(item.raw));
    case VT_R4: {
      float value;
      std::memcpy(&value, &item.raw, sizeof value);
      return VARIANT::R4(value);
    }
    case VT_UI2:
      return VARIANT::UI2(static_cast<uint16_t>(item.raw));
    default:
      return VARIANT::UI4(item.raw);
  }
}
