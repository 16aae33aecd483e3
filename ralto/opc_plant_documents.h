// Reads the alarm blocks of the plant from the configuration documents in a
// document directory (the configuration server's files, read directly so
// that failures injected into the configuration server do not change the
// plant).
//
// Contract: ReadSummary lists the producers (NodeSummary elements with a
// ProducedData document) in document order. ReadProducer reads one
// producer's ProducedData document and, unless its text is unchanged since
// `knownHash`, its alarm blocks: the O0C and O0D BlockSubElement members
// grouped by block name (the member name up to its last "."), in order of
// first appearance. Failures: the document store's codes (RALTO_E_...,
// E_ACCESSDENIED, ...), OPC_E_INVALIDCONFIGFILE when a document does not
// parse; outputs are then unchanged. Any thread may call; no shared state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"

struct RaltoBlockDef {
  std::string name;  // e.g. "LIC101" or "P201A.MTR"
  bool digital = false;  // O0D (else O0C)
  bool hasAs = false, hasRs = false, hasFc = false, hasPi = false, hasSt = false;

  friend bool operator==(const RaltoBlockDef&, const RaltoBlockDef&) = default;
};

struct RaltoProducerDef {
  uint32_t id = 0;
  std::string node;
  size_t textHash = 0;  // of the last text read
  std::vector<RaltoBlockDef> blocks;
};

class CRaltoPlantDocuments {
 public:
  // REQUIRES: directory is not empty.
  explicit CRaltoPlantDocuments(std::string directory);

  // The configuration server's directory setting (or its built-in default).
  static HRESULT DirectoryFromRegistry(std::string& directory);

  HRESULT ReadSummary(std::vector<RaltoProducerDef>& producers) const;
  // Fills producer.textHash and, when the text changed, producer.blocks.
  // *changed tells which. REQUIRES: changed != nullptr.
  HRESULT ReadProducer(RaltoProducerDef& producer, size_t knownHash, bool* changed) const;

 private:
  std::string directory_;
};
