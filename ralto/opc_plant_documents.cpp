#include "ralto/opc_plant_documents.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <functional>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "platform/opcda.h"
#include "ralto/config_document_store.h"
#include "ralto/config_server.h"

namespace {

constexpr char kProducers[] =
    "/q:ConfigurationSummary/q:NodeSummary[q:Document[@DocType='ProducedData']]";
constexpr char kMembers[] =
    "/q:ProducedData/q:Producer/q:RaltoConfigExtension/q:BlockStructures/q:BlockStructure"
    "/q:BlockSubElement[(@BlockType='O0C') or (@BlockType='O0D')]";

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
  void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct ObjectFree {
  void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};

// One parsed document with its XPath context (prefix q = the documents' namespace).
class Document {
 public:
  bool Parse(const std::string& text) {
    doc_.reset(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc_) return false;
    context_.reset(xmlXPathNewContext(doc_.get()));
    return context_ &&
           xmlXPathRegisterNs(context_.get(), BAD_CAST "q", BAD_CAST kRaltoConfigNamespace) == 0;
  }

  // Calls f for every element that `path` selects, in document order.
  void ForEach(const char* path, const std::function<void(xmlNode*)>& f) const {
    std::unique_ptr<xmlXPathObject, ObjectFree> result(
        xmlXPathEvalExpression(BAD_CAST path, context_.get()));
    if (!result || !result->nodesetval) return;
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) f(result->nodesetval->nodeTab[i]);
  }

 private:
  std::unique_ptr<xmlDoc, DocFree> doc_;
  std::unique_ptr<xmlXPathContext, ContextFree> context_;
};

std::string Attribute(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  if (!value) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
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
  Document doc;
  if (!doc.Parse(text)) return OPC_E_INVALIDCONFIGFILE;
  std::vector<RaltoProducerDef> found;
  doc.ForEach(kProducers, [&](xmlNode* node) {
    RaltoProducerDef producer;
    producer.node = Attribute(node, "Name");
    if (!producer.node.empty() && ParseUint32(Attribute(node, "ProducerId"), producer.id)) {
      found.push_back(std::move(producer));
    }
  });
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
  Document doc;
  if (!doc.Parse(text)) return OPC_E_INVALIDCONFIGFILE;
  std::vector<RaltoBlockDef> blocks;
  std::unordered_map<std::string, size_t> byName;
  doc.ForEach(kMembers, [&](xmlNode* node) {
    std::string name = Attribute(node, "Name");
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return;
    std::string blockName = name.substr(0, dot);
    auto [it, added] = byName.emplace(blockName, blocks.size());
    if (added) {
      blocks.push_back(RaltoBlockDef{});
      blocks.back().name = blockName;
      blocks.back().digital = Attribute(node, "BlockType") == "O0D";
    }
    AddMember(blocks[it->second], std::string_view(name).substr(dot));
  });
  producer.blocks = std::move(blocks);
  producer.textHash = hash;
  *changed = true;
  return S_OK;
}
