// The document directory of the configuration server: finds it and reads
// its files. File names and the registry setting are in config_server.h.
//
// Contract: every call reads the file system (and the registry) afresh, so
// a document replaced on disk is served at the next call. Read loads the
// whole file in one pass and hands its bytes over unchanged, less a leading
// UTF-8 byte-order mark. Results are those of GetConfigDocument (see
// config_server.h). Any thread may call; instances hold no mutable state.
#pragma once

#include <string>

#include "platform/com.h"

class CConfigDocumentStore {
 public:
  // REQUIRES: directory is not empty.
  explicit CConfigDocumentStore(std::string directory);

  // The directory named in the registry, or the bundled example plant when
  // the value is missing or empty (config_server.h tells where that is).
  // REGDB_E_READREGDB when the store cannot be read.
  static HRESULT DirectoryFromRegistry(std::string& directory);

  // The document of (kind, id) into `text` (emptied on failure).
  // REQUIRES: kind is RALTO_DOC_CONFIGURATION_SUMMARY or RALTO_DOC_PRODUCED_DATA.
  HRESULT Read(LONG kind, LONG id, std::string& text) const;

  const std::string& directory() const { return directory_; }

 private:
  std::string PathOf(const std::string& fileName) const;

  std::string directory_;
};
