#include "plant_reader.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstdlib>
#include <memory>

#include "ralto/config_server.h"

namespace {

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct ContextFree {
  void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
};
struct ObjectFree {
  void operator()(xmlXPathObject* o) const { xmlXPathFreeObject(o); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;
using Context = std::unique_ptr<xmlXPathContext, ContextFree>;
using Object = std::unique_ptr<xmlXPathObject, ObjectFree>;

const char kPath[] =
    "/QQQ:ProducedData/QQQ:Producer/QQQ:RaltoConfigExtension/QQQ:BlockStructures/"
    "QQQ:BlockStructure";

// A parsed document with the QQQ prefix bound, as the import sets it up.
struct Document {
  Doc doc;
  Context context;

  bool Load(const std::string& path) {
    doc.reset(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                     XML_PARSE_NOWARNING));
    if (!doc) return false;
    context.reset(xmlXPathNewContext(doc.get()));
    return context && xmlXPathRegisterNs(context.get(), BAD_CAST "QQQ",
                                         BAD_CAST kRaltoConfigNamespace) == 0;
  }

  std::vector<xmlNode*> Select(const std::string& xpath) const {
    Object result(xmlXPathEvalExpression(BAD_CAST xpath.c_str(), context.get()));
    std::vector<xmlNode*> nodes;
    if (result && result->nodesetval)
      for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.push_back(result->nodesetval->nodeTab[i]);
    return nodes;
  }

  xmlNode* SelectSingle(const std::string& xpath) const {
    auto nodes = Select(xpath);
    return nodes.empty() ? nullptr : nodes.front();
  }
};

bool Attribute(xmlNode* node, const char* name, std::string& value) {
  value.clear();
  if (!node) return false;
  xmlChar* text = xmlGetProp(node, BAD_CAST name);
  if (!text) return false;
  value = reinterpret_cast<const char*>(text);
  xmlFree(text);
  return true;
}

bool ToUnsigned(const std::string& text, uint32_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

// The area and message selections of one variable, in the import's order;
// later selections overwrite earlier ones, found or not.
void FindAreaAndMessage(const Document& doc, PlantVariable& var) {
  bool roc = var.suffix == ".RS";
  auto apply = [&](xmlNode* area, xmlNode* message) {
    std::string data, dataRoc;
    bool found = Attribute(area, "Data", data);
    var.rawArea = data;
    var.area = NormalizeArea(data);
    found |= Attribute(message, "Data", var.message);
    if (roc) found |= Attribute(message, "DataROC", dataRoc);
    var.rocMessage = dataRoc;
    return found;
  };
  std::string own = std::string(kPath) + "[@Name='" + var.block + "']";
  bool found = apply(doc.SelectSingle(own + "/QQQ:Area"), doc.SelectSingle(own + "/QQQ:Message"));
  if (!found) {
    std::string embedded = std::string(kPath) + "/QQQ:EmbeddedBlock[@Reference='" + var.block + "']";
    found = apply(doc.SelectSingle(embedded + "/QQQ:Area"),
                  doc.SelectSingle(embedded + "/QQQ:Message"));
  }
  var.areaOrMessageFound = found;
}

}  // namespace

std::string NormalizeArea(std::string text) {
  for (char& c : text)
    if (c == ' ') c = '_';
  if (text.ends_with('/')) text.back() = '_';
  if (text.starts_with('/')) text.front() = '_';
  if (text.find('/') == std::string::npos) return text;
  std::string joined;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) joined += (joined.empty() ? "" : "/") + text.substr(start, end - start);
    start = end + 1;
  }
  return joined.empty() ? text : joined;
}

bool CPlantReader::Load(const std::string& directory) {
  producers_.clear();
  Document summary;
  std::string path = directory + "/" + kRaltoSummaryFileName;
  if (!summary.Load(path)) {
    error_ = "cannot load " + path;
    return false;
  }
  nodeCount_ = static_cast<int>(summary.Select("/QQQ:ConfigurationSummary/QQQ:NodeSummary").size());
  for (xmlNode* node : summary.Select(
           "/QQQ:ConfigurationSummary/QQQ:NodeSummary[QQQ:Document[@DocType='ProducedData']]")) {
    PlantProducer producer;
    std::string id;
    if (!Attribute(node, "Name", producer.name) || !Attribute(node, "ProducerId", id) ||
        !ToUnsigned(id, producer.id)) {
      error_ = "a NodeSummary lacks Name or a numeric ProducerId";
      return false;
    }
    if (!LoadProducer(directory, producer)) return false;
    producers_.push_back(std::move(producer));
  }
  if (producers_.empty()) error_ = "the summary names no producer";
  return !producers_.empty();
}

bool CPlantReader::LoadProducer(const std::string& directory, PlantProducer& producer) {
  Document doc;
  std::string path = directory + "/" + kRaltoProducedDataPrefix + std::to_string(producer.id) +
                     kRaltoProducedDataSuffix;
  if (!doc.Load(path)) {
    error_ = "cannot load " + path;
    return false;
  }
  xmlNode* node = doc.SelectSingle("/QQQ:ProducedData/QQQ:Producer");
  std::string secs, nsecs;
  producer.hasConfigTime = Attribute(node, "ConfigTimeSecs", secs) &&
                           Attribute(node, "ConfigTimeNSecs", nsecs) &&
                           ToUnsigned(secs, producer.configTimeSecs) &&
                           ToUnsigned(nsecs, producer.configTimeNSecs);
  Attribute(node, "Name", producer.producerName);
  for (xmlNode* member : doc.Select(std::string(kPath) +
                                    "/QQQ:BlockSubElement[(@BlockType='O0C') or (@BlockType='O0D')]")) {
    PlantVariable var;
    Attribute(member, "Name", var.name);
    Attribute(member, "BlockType", var.blockType);
    Attribute(member, "InitValue", var.initValue);
    size_t dot = var.name.rfind('.');
    var.block = dot == std::string::npos ? var.name : var.name.substr(0, dot);
    var.suffix = var.name.size() >= 3 ? var.name.substr(var.name.size() - 3) : var.name;
    if (var.suffix == ".AS" || var.suffix == ".RS") FindAreaAndMessage(doc, var);
    producer.variables.push_back(std::move(var));
  }
  return true;
}
