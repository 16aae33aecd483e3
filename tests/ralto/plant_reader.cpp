#include "plant_reader.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/xml_document.h"
#include "ralto/config_server.h"

namespace {

const char kPath[] =
    "/QQQ:ProducedData/QQQ:Producer/QQQ:RaltoConfigExtension/QQQ:BlockStructures/"
    "QQQ:BlockStructure";

// The document in the file `path` with the QQQ prefix bound, as the import
// sets it up.
bool LoadFile(CXmlDocument& doc, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  return doc.Load(text.str()) && doc.SetSelectionNamespace("QQQ", kRaltoConfigNamespace);
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
void FindAreaAndMessage(const CXmlDocument& doc, PlantVariable& var) {
  bool roc = var.suffix == ".RS";
  auto apply = [&](const CXmlNode& area, const CXmlNode& message) {
    std::string data, dataRoc;
    bool found = area.GetAttribute("Data", data);
    var.rawArea = data;
    var.area = NormalizeArea(data);
    found |= message.GetAttribute("Data", var.message);
    if (roc) found |= message.GetAttribute("DataROC", dataRoc);
    var.rocMessage = dataRoc;
    return found;
  };
  std::string own = std::string(kPath) + "[@Name='" + var.block + "']";
  bool found = apply(doc.SelectSingleNode(own + "/QQQ:Area"), doc.SelectSingleNode(own + "/QQQ:Message"));
  if (!found) {
    std::string embedded = std::string(kPath) + "/QQQ:EmbeddedBlock[@Reference='" + var.block + "']";
    found = apply(doc.SelectSingleNode(embedded + "/QQQ:Area"),
                  doc.SelectSingleNode(embedded + "/QQQ:Message"));
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
  CXmlDocument summary;
  std::string path = directory + "/" + kRaltoSummaryFileName;
  if (!LoadFile(summary, path)) {
    error_ = "cannot load " + path;
    return false;
  }
  nodeCount_ = static_cast<int>(summary.SelectNodes("/QQQ:ConfigurationSummary/QQQ:NodeSummary").size());
  for (const CXmlNode& node : summary.SelectNodes(
           "/QQQ:ConfigurationSummary/QQQ:NodeSummary[QQQ:Document[@DocType='ProducedData']]")) {
    PlantProducer producer;
    std::string id;
    if (!node.GetAttribute("Name", producer.name) || !node.GetAttribute("ProducerId", id) ||
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
  CXmlDocument doc;
  std::string path = directory + "/" + kRaltoProducedDataPrefix + std::to_string(producer.id) +
                     kRaltoProducedDataSuffix;
  if (!LoadFile(doc, path)) {
    error_ = "cannot load " + path;
    return false;
  }
  CXmlNode node = doc.SelectSingleNode("/QQQ:ProducedData/QQQ:Producer");
  std::string secs, nsecs;
  producer.hasConfigTime = node.GetAttribute("ConfigTimeSecs", secs) &&
                           node.GetAttribute("ConfigTimeNSecs", nsecs) &&
                           ToUnsigned(secs, producer.configTimeSecs) &&
                           ToUnsigned(nsecs, producer.configTimeNSecs);
  node.GetAttribute("Name", producer.producerName);
  for (const CXmlNode& member : doc.SelectNodes(std::string(kPath) +
                                    "/QQQ:BlockSubElement[(@BlockType='O0C') or (@BlockType='O0D')]")) {
    PlantVariable var;
    member.GetAttribute("Name", var.name);
    member.GetAttribute("BlockType", var.blockType);
    member.GetAttribute("InitValue", var.initValue);
    size_t dot = var.name.rfind('.');
    var.block = dot == std::string::npos ? var.name : var.name.substr(0, dot);
    var.suffix = var.name.size() >= 3 ? var.name.substr(var.name.size() - 3) : var.name;
    if (var.suffix == ".AS" || var.suffix == ".RS") FindAreaAndMessage(doc, var);
    producer.variables.push_back(std::move(var));
  }
  return true;
}
