// CResourceStringTable: the resource library's string table read from its
// XML source (resources/strings.xml), for the programs and tests that serve
// LoadResourceString without the built resource library.
//
// Format: <strings><string id="61468">text</string>...</strings>; the text
// is the element's content exactly as written. Contract: Load returns false
// with a reason, and leaves the table as it was, when the file cannot be
// read, does not parse, or holds an entry without a decimal id in 0..65535
// or an id twice. Not synchronised; Install hands a copy to the provider,
// which then serves any thread.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/resource_strings.h"

class CResourceStringTable {
 public:
  bool Load(const std::string& path, std::string* error = nullptr);

  // The text of `id`; "" when the table has none.
  std::string Get(uint32_t id) const;
  size_t Size() const { return texts_.size(); }

  // Makes a copy of this table the process's resource string provider and
  // returns the provider it replaces.
  ResourceStringProvider Install() const;

 private:
  std::unordered_map<uint32_t, std::string> texts_;
};
