// The items of the simulated plant: id, canonical type, access rights and
// the current value with its time stamp (the controllers' quality is always
// good).
//
// Contract: an item keeps its index for the life of the process; an item
// whose block vanished from the documents is only marked not present, and
// comes back at the same index if the block returns, so server handles of
// groups stay valid. Every change of value (and every return)
// moves the item's changeSeq on to a new, higher number: groups report the
// items whose changeSeq passed what they last sent. Not thread-safe: the
// plant's lock guards it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/filetime.h"
#include "platform/opcda.h"
#include "platform/variant.h"

struct RaltoItem {
  std::string id;
  VARTYPE type = VT_UI4;  // VT_UI4, VT_I4, VT_R4 or VT_UI2
  DWORD rights = OPC_READABLE;
  bool present = true;
  uint32_t raw = 0;  // the value's bits in `type`
  FILETIME time;
  uint64_t changeSeq = 0;
};

class CRaltoAddressSpace {
 public:
  static constexpr uint32_t kNoItem = UINT32_MAX;

  // The index of `id` (present or not), or kNoItem.
  uint32_t Find(std::string_view id) const;
  // A new item, or the vanished one of that id made present again with
  // this type and these rights. Its value is 0 until published.
  uint32_t Add(const std::string& id, VARTYPE type, DWORD rights);
  // REQUIRES: index < size().
  void Remove(uint32_t index);
  // Sets the value's bits and the time stamp (always; equal bits are no change).
  // REQUIRES: index < size().
  void Publish(uint32_t index, uint32_t raw, const FILETIME& time);

  const RaltoItem& at(uint32_t index) const { return items_[index]; }
  uint32_t size() const { return static_cast<uint32_t>(items_.size()); }
  // The ids of the present items in order of creation, shared until the
  // next Add or Remove.
  std::shared_ptr<const std::vector<std::string>> PresentIds();

  // The item's value as a VARIANT of its canonical type.
  static VARIANT ValueOf(const RaltoItem& item);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };

  std::vector<RaltoItem> items_;
  std::unordered_map<std::string, uint32_t, Hash, std::equal_to<>> index_;
  uint64_t seq_ = 0;
  std::shared_ptr<const std::vector<std::string>> presentIds_;  // null: to be rebuilt
};
