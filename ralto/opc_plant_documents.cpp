#include "ralto/opc_plant_documents.h"

#include <functional>
#include <string_view>
#include <unordered_map>

#include "platform/opcda.h"
#include "platform/xml_document.h"
#include "ralto/config_document_store.h"
#include "ralto/config_server.h"

namespace {

constexpr char kProducers[] =
    "/q:ConfigurationSummary/q:NodeSummary[q:Document[@DocType='ProducedData']]";
constexpr char kMembers[] =
    "/q:ProducedData/q:Producer/q:RaltoConfigExtension/q:BlockStructures/q:BlockStructure"
    "/q:BlockSubElement[(@BlockType='O0C') or (@BlockType='O0D')]";

// Parses `text` with the prefix q bound to the documents' namespace.
bool Parse(CXmlDocument& doc, const std::string& text) {
  return doc.Load(text) && doc.SetSelectionNamespace("q", kRaltoConfigNamespace);
}

std::string Attribute(const CXmlNode& node, const char* name) {
  std::string value;
  node.GetAttribute(name, value);
  return value;
}

bool ParseUint32(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  if (value > UINT32_MAX) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

void AddMember(RaltoBlockDef& block, std::string_view suffix) {
  if (suffix == ".AS") block.hasAs = true;
  else if (suffix == ".RS") block.hasRs = true;
  else if (suffix == ".FC") block.hasFc = true;
  else if (suffix == ".PI") block.hasPi = true;
  else if (suffix == ".ST") block.hasSt = true;
}

}  // namespace

CRaltoPlantDocuments::CRaltoPlantDocuments(std::string directory) : directory_(std::move(directory)) {}

HRESULT CRaltoPlantDocuments::DirectoryFromRegistry(std::string& directory) {
  return CConfigDocumentStore::DirectoryFromRegistry(directory);
}

HRESULT CRaltoPlantDocuments::ReadSummary(std::vector<RaltoProducerDef>& producers) const {
  std::string text;
  HRESULT hr = CConfigDocumentStore(directory_).Read(RALTO_DOC_CONFIGURATION_SUMMARY, RALTO_SUMMARY_ID, text);
  if (FAILED(hr)) return hr;
  CXmlDocument doc;
  if (!Parse(doc, text)) return OPC_E_INVALIDCONFIGFILE;
  std::vector<RaltoProducerDef> found;
  for (const CXmlNode& node : doc.SelectNodes(kProducers)) {
    RaltoProducerDef producer;
    producer.node = Attribute(node, "Name");
    if (!producer.node.empty() && ParseUint32(Attribute(node, "ProducerId"), producer.id)) {
      found.push_back(std::move(producer));
    }
  }
  producers = std::move(found);
  return S_OK;
}

HRESULT CRaltoPlantDocuments::ReadProducer(RaltoProducerDef& producer, size_t knownHash,
                                           bool* changed) const {
  *changed = false;
  std::string text;
  HRESULT hr = CConfigDocumentStore(directory_).Read(RALTO_DOC_PRODUCED_DATA,
                                                     static_cast<LONG>(producer.id), text);
  if (FAILED(hr)) return hr;
  size_t hash = std::hash<std::string>()(text);
  if (hash == knownHash) {
    producer.textHash = hash;
    return S_OK;
  }
  CXmlDocument doc;
  if (!Parse(doc, text)) return OPC_E_INVALIDCONFIGFILE;
  std::vector<RaltoBlockDef> blocks;
  std::unordered_map<std::string, size_t> byName;
  for (const CXmlNode& node : doc.SelectNodes(kMembers)) {
    std::string name = Attribute(node, "Name");
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) continue;
    std::string blockName = name.substr(0, dot);
    auto [it, added] = byName.emplace(blockName, blocks.size());
    if (added) {
      blocks.push_back(RaltoBlockDef{});
      blocks.back().name = blockName;
      blocks.back().digital = Attribute(node, "BlockType") == "O0D";
    }
    AddMember(blocks[it->second], std::string_view(name).substr(dot));
  }
  producer.blocks = std::move(blocks);
  producer.textHash = hash;
  *changed = true;
  return S_OK;
}
