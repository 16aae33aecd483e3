#include "alarmconfig/block_description_index.h"

#include "ralto/config_server.h"

namespace {

constexpr char kBlockStructuresPath[] =
    "/QQQ:ProducedData/QQQ:Producer/QQQ:RaltoConfigExtension/QQQ:BlockStructures/QQQ:BlockStructure";

const BlockDescription kNothing;

}  // namespace

void CBlockDescriptionIndex::Note(std::unordered_map<std::string, BlockDescription>& index,
                                  const std::string& name, const CXmlNode& element) {
  CXmlNode area = element.FirstChildElement(kRaltoConfigNamespace, "Area");
  CXmlNode message = element.FirstChildElement(kRaltoConfigNamespace, "Message");
  if (!area && !message) return;
  // Elements are met in document order: the first one of each kind stays.
  BlockDescription& description = index[name];
  if (!description.area) description.area = area;
  if (!description.message) description.message = message;
}

CBlockDescriptionIndex::CBlockDescriptionIndex(const CXmlDocument& document) {
  std::string name;
  for (const CXmlNode& structure : document.SelectNodes(kBlockStructuresPath)) {
    if (structure.GetAttribute("Name", name)) Note(structures_, name, structure);
    for (CXmlNode embedded = structure.FirstChildElement(kRaltoConfigNamespace, "EmbeddedBlock"); embedded;
         embedded = embedded.NextSiblingElement(kRaltoConfigNamespace, "EmbeddedBlock")) {
      if (embedded.GetAttribute("Reference", name)) Note(embedded_, name, embedded);
    }
  }
}

const BlockDescription& CBlockDescriptionIndex::Structure(const std::string& blockName) const {
  auto it = structures_.find(blockName);
  return it == structures_.end() ? kNothing : it->second;
}

const BlockDescription& CBlockDescriptionIndex::Embedded(const std::string& blockName) const {
  auto it = embedded_.find(blockName);
  return it == embedded_.end() ? kNothing : it->second;
}
