// Test helper: reads a plant's configuration documents from a directory the
// way aeserver's import does (the same XPath selections and attribute reads),
// so that tests can check that documents satisfy the import.
//
// Contract: Load returns false with a reason in error() when a file is
// missing or does not parse, or the summary selects no producer. Producers
// whose Producer element lacks a configuration time are kept with
// hasConfigTime false. Single-threaded use.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One member (BlockSubElement) of an alarm block, with what the import finds
// for it.
struct PlantVariable {
  std::string name;       // e.g. "LIC101.AS"
  std::string blockType;  // "O0C" or "O0D"
  std::string initValue;  // the InitValue attribute (members of any suffix)
  std::string block;      // name up to the last "."
  std::string suffix;     // the last three characters, e.g. ".AS"
  std::string rawArea;    // the Area's Data as written
  std::string area;       // after NormalizeArea
  std::string message;
  std::string rocMessage;
  bool areaOrMessageFound = false;
};

struct PlantProducer {
  std::string name;  // NodeSummary/@Name
  uint32_t id = 0;   // NodeSummary/@ProducerId
  bool hasConfigTime = false;
  uint32_t configTimeSecs = 0;
  uint32_t configTimeNSecs = 0;
  std::string producerName;  // Producer/@Name (our documents repeat it)
  std::vector<PlantVariable> variables;  // alarm members, in document order
};

// The area path aeserver makes of an Area's Data.
std::string NormalizeArea(std::string text);

class CPlantReader {
 public:
  bool Load(const std::string& directory);

  const std::vector<PlantProducer>& producers() const { return producers_; }
  const std::string& error() const { return error_; }
  // Number of NodeSummary elements (with or without ProducedData).
  int nodeCount() const { return nodeCount_; }

 private:
  bool LoadProducer(const std::string& directory, PlantProducer& producer);

  std::vector<PlantProducer> producers_;
  std::string error_;
  int nodeCount_ = 0;
};
