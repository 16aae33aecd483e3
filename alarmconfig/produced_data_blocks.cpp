#include "alarmconfig/produced_data_blocks.h"

#include "ralto/config_server.h"

namespace {

const char* const kNs = kRaltoConfigNamespace;
const BlockDescription kNothing;

// The child elements of `parent` named `name` in the configuration namespace.
template <class Visit>
void ForEachChild(const CXmlNode& parent, const char* name, Visit visit) {
  for (CXmlNode child = parent.FirstChildElement(kNs, name); child; child = child.NextSiblingElement(kNs, name))
    visit(child);
}

// The first Area and the first Message child of `element`.
BlockDescription Describe(const CXmlNode& element) {
  return {element.FirstChildElement(kNs, "Area"), element.FirstChildElement(kNs, "Message")};
}

}  // namespace

CProducedDataBlocks::CProducedDataBlocks(const CXmlDocument& document) {
  CXmlNode root = document.Root();
  if (!root.IsElement(kNs, "ProducedData")) return;
  ForEachChild(root, "Producer", [&](const CXmlNode& producer) {
    ForEachChild(producer, "RaltoConfigExtension", [&](const CXmlNode& extension) {
      ForEachChild(extension, "BlockStructures", [&](const CXmlNode& structures) {
        ForEachChild(structures, "BlockStructure", [&](const CXmlNode& structure) { ReadStructure(structure); });
      });
    });
  });
}

void CProducedDataBlocks::ReadStructure(const CXmlNode& structure) {
  std::string text;
  BlockDescription own;
  for (CXmlNode child = structure.FirstChildElement(); child; child = child.NextSiblingElement()) {
    if (child.IsElement(kNs, "BlockSubElement")) {
      if (child.GetAttribute("BlockType", text) && (text == "O0C" || text == "O0D")) {
        BlockMember& member = members_.emplace_back();
        member.element = child;
        member.blockType = text;
        member.hasName = child.GetAttribute("Name", member.name);
      }
    } else if (child.IsElement(kNs, "EmbeddedBlock")) {
      if (child.GetAttribute("Reference", text)) Note(embedded_, text, Describe(child));
    } else if (!own.area && child.IsElement(kNs, "Area")) {
      own.area = child;
    } else if (!own.message && child.IsElement(kNs, "Message")) {
      own.message = child;
    }
  }
  if (structure.GetAttribute("Name", text)) Note(structures_, text, own);
}

void CProducedDataBlocks::Note(std::unordered_map<std::string, BlockDescription>& index, const std::string& name,
                               const BlockDescription& found) {
  if (!found.area && !found.message) return;
  // Elements are met in document order: the first one of each kind stays.
  BlockDescription& description = index[name];
  if (!description.area) description.area = found.area;
  if (!description.message) description.message = found.message;
}

const BlockDescription& CProducedDataBlocks::Structure(const std::string& blockName) const {
  auto it = structures_.find(blockName);
  return it == structures_.end() ? kNothing : it->second;
}

const BlockDescription& CProducedDataBlocks::Embedded(const std::string& blockName) const {
  auto it = embedded_.find(blockName);
  return it == embedded_.end() ? kNothing : it->second;
}
