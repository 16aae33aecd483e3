// CBlockDescriptionIndex: where the Area and Message of each block of a
// ProducedData document are, found in one pass over the document.
//
// For a block name B it answers exactly what these selections answer (the
// first matching element in document order, or none), without running a
// search over the whole document per block:
//   Structure(B): .../BlockStructures/BlockStructure[@Name=B]/Area and /Message
//   Embedded(B):  .../BlockStructures/BlockStructure/EmbeddedBlock[@Reference=B]/Area
//                 and /Message
// with ... = /ProducedData/Producer/RaltoConfigExtension and every element
// in the configuration namespace. Names are compared as XPath compares
// strings (exactly), so any character may appear in them.
//
// Contract: built from a loaded document and valid while it lives; lookups
// never fail (an unknown block has neither element). Not synchronised.
#pragma once

#include <string>
#include <unordered_map>

#include "alarmconfig/xml_document.h"

struct BlockDescription {
  CXmlNode area;
  CXmlNode message;
};

class CBlockDescriptionIndex {
 public:
  // REQUIRES: `document` binds the prefix QQQ to the configuration namespace.
  explicit CBlockDescriptionIndex(const CXmlDocument& document);

  const BlockDescription& Structure(const std::string& blockName) const;
  const BlockDescription& Embedded(const std::string& blockName) const;

 private:
  static void Note(std::unordered_map<std::string, BlockDescription>& index, const std::string& name,
                   const CXmlNode& element);

  std::unordered_map<std::string, BlockDescription> structures_;
  std::unordered_map<std::string, BlockDescription> embedded_;
};
