// The configuration server as the import meets it, serving documents from
// memory: the fuzz targets hand the import the text of a fuzz input exactly
// where it takes the text of the configuration server's files.
//
// A plant input is text in sections; a line starting with "%%" starts one:
//   (the start)          the Configuration Summary
//   %%ProducedData <id>  the ProducedData document of ProducerId <id>
//   %%Summary            the Configuration Summary again (replacing it)
//   %%Rebind             a binding tick: the next import (an incremental
//                        one) sees the documents so far with the sections
//                        that follow put in their place
//   %%Window             the main window is visible (message-box paths)
// so that the example plant's files, joined with their headers, are a
// valid input.
//
// Served like the configuration server's files: GetConfigDocument(1, 1) the
// summary (RALTO_E_DOCUMENT_NOT_FOUND when the input has none at all),
// GetConfigDocument(2, id) the document of that id (RALTO_E_UNKNOWN_PRODUCER
// when there is none), less a leading UTF-8 byte-order mark; E_INVALIDARG
// for other kinds, ids and reserved arguments, as the server answers.
//
// Threads: ServeConfigDocuments from the fuzz target's thread between
// imports; the server may be called from any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"

struct ConfigDocuments {
  std::optional<std::string> summary;
  std::map<LONG, std::string> producedData;
};

struct PlantInput {
  bool windowVisible = false;
  // The first for a full import, each further one for a binding tick.
  std::vector<ConfigDocuments> imports;
};

// At most this many imports are taken from one input.
inline constexpr size_t kMaxPlantImports = 3;

PlantInput ParsePlantInput(std::string_view text);

// The documents of a folder as the configuration server finds them there
// (ConfigurationSummary.xml, ProducedData_<id>.xml). Missing files are left
// out.
ConfigDocuments ReadPlantFolder(const std::string& folder);

// Makes this process's RaltoConfigServer one that serves `documents`
// (not owned; null: no documents) until the next call. The first call
// registers the class.
void ServeConfigDocuments(const ConfigDocuments* documents);
