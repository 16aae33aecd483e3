// CProducedDataBlocks: what the import needs of a ProducedData document's
// blocks, read in one pass over its BlockStructure elements:
//
//   Members()      the alarm block members in document order: what
//                  B/BlockSubElement[(@BlockType='O0C') or (@BlockType='O0D')]
//                  selects, each with its Name and BlockType read;
//   Structure(N)   the first Area and the first Message, in document order,
//                  of B[@Name=N]/Area and B[@Name=N]/Message;
//   Embedded(N)    the same of B/EmbeddedBlock[@Reference=N]/Area and /Message;
//
// with B = /ProducedData/Producer/RaltoConfigExtension/BlockStructures/
// BlockStructure and every element in the configuration namespace. These
// are exactly the answers of those selections (names compared exactly, as
// XPath compares strings, so any character may appear in them), without a
// search over the whole document per block.
//
// Contract: valid while its document lives; lookups never fail (an unknown
// block has neither element). Not synchronised.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/xml_document.h"

struct BlockDescription {
  CXmlNode area;
  CXmlNode message;
};

struct BlockMember {
  CXmlNode element;
  bool hasName = false;
  std::string name;       // its Name ("" when it has none)
  std::string blockType;  // "O0C" or "O0D"
};

class CProducedDataBlocks {
 public:
  explicit CProducedDataBlocks(const CXmlDocument& document);

  const std::vector<BlockMember>& Members() const { return members_; }
  const BlockDescription& Structure(const std::string& blockName) const;
  const BlockDescription& Embedded(const std::string& blockName) const;

 private:
  void ReadStructure(const CXmlNode& structure);
  static void Note(std::unordered_map<std::string, BlockDescription>& index, const std::string& name,
                   const BlockDescription& found);

  std::vector<BlockMember> members_;
  std::unordered_map<std::string, BlockDescription> structures_;
  std::unordered_map<std::string, BlockDescription> embedded_;
};
