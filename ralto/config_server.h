// The configuration server's type library: what a client of RaltoConfigServer
// includes. The class lives in the in-process server library ralto_config
// (libralto_config.so) and is reached only through class creation by CLSID or
// ProgID, never by linking.
//
// GetConfigDocument(kind, id, 0, 0) hands out one configuration document as
// UTF-8 XML text:
//   kind 1, id 1            the Configuration Summary (which nodes exist)
//   kind 2, id = ProducerId that producer's ProducedData document
// Both documents use the namespace kRaltoConfigNamespace (the default
// namespace of their elements). docs/configuration-documents.md describes
// the format and how the server finds its files.
//
// Results: S_OK with *document filled; E_POINTER for a null document;
// E_INVALIDARG for another kind, kind 1 with an id other than 1, or nonzero
// reserved arguments; one of the four RALTO_E_ codes below; E_ACCESSDENIED
// or RALTO_E_READ_FAILED when a document file exists but cannot be read;
// E_OUTOFMEMORY when the document does not fit in memory;
// REGDB_E_READREGDB when the registry store cannot be read. *document is
// left empty on failure.
//
// Threads: the object may be called from any thread, from several at once.
#pragma once

#include "platform/com.h"

// {314B99D6-2875-4B99-9D86-339FA8795E10}
constexpr CLSID CLSID_RaltoConfigServer{
    0x314B99D6, 0x2875, 0x4B99, {0x9D, 0x86, 0x33, 0x9F, 0xA8, 0x79, 0x5E, 0x10}};
// {AC6AE3BF-0983-4FB0-916B-EC9E3858E484}
constexpr IID IID_IRaltoConfigServer{
    0xAC6AE3BF, 0x0983, 0x4FB0, {0x91, 0x6B, 0xEC, 0x9E, 0x38, 0x58, 0xE4, 0x84}};

inline constexpr char kRaltoConfigServerProgId[] = "Ralto.ConfigServer.1";

// The namespace of the Configuration Summary and of every ProducedData document.
inline constexpr char kRaltoConfigNamespace[] = "urn:ralto:config:1.0";

// Document kinds of GetConfigDocument.
constexpr LONG RALTO_DOC_CONFIGURATION_SUMMARY = 1;
constexpr LONG RALTO_DOC_PRODUCED_DATA = 2;
// The only id of the Configuration Summary.
constexpr LONG RALTO_SUMMARY_ID = 1;

// Where the server looks for its document directory: HKLM\<key>, value
// <name> (REG_SZ). When the value is missing or empty, the bundled example
// plant: examples/plant beside the server's library (where the build puts
// a copy), else <prefix>/share/aeserver/examples/plant of the prefix the
// library is installed under.
inline constexpr char kRaltoConfigServerKey[] = "SOFTWARE\\Ralto\\Config Server";
inline constexpr char kRaltoDocumentDirectoryValue[] = "DocumentDirectory";

// File names inside the document directory. The ProducedData file of a
// producer carries its ProducerId in decimal: ProducedData_7.xml.
inline constexpr char kRaltoSummaryFileName[] = "ConfigurationSummary.xml";
inline constexpr char kRaltoProducedDataPrefix[] = "ProducedData_";
inline constexpr char kRaltoProducedDataSuffix[] = ".xml";
// While this file exists in the directory an engineer is editing the
// configuration: every request answers RALTO_E_CONFIG_EDITING.
inline constexpr char kRaltoEditLockFileName[] = "ConfigurationEditing.lock";

// The configuration server's own failures. A client treats all four as
// "no configuration to be had right now" and may try again later.
// The document directory does not exist (or is not a directory).
constexpr HRESULT RALTO_E_NO_CONFIGURATION = static_cast<HRESULT>(0xC1810002);
// An engineer is editing the configuration; its documents are not consistent.
constexpr HRESULT RALTO_E_CONFIG_EDITING = static_cast<HRESULT>(0xC18107D0);
// No ProducedData document exists for this ProducerId.
constexpr HRESULT RALTO_E_UNKNOWN_PRODUCER = static_cast<HRESULT>(0xC18107D3);
// The Configuration Summary file is missing from the document directory.
constexpr HRESULT RALTO_E_DOCUMENT_NOT_FOUND = static_cast<HRESULT>(0xC18107DB);
// A document file exists but reading it failed (ERROR_READ_FAULT).
constexpr HRESULT RALTO_E_READ_FAILED = HRESULT_FROM_WIN32(30);

class IRaltoConfigServer : public IUnknown {
 public:
  // REQUIRES: document != nullptr (else E_POINTER).
  virtual HRESULT GetConfigDocument(LONG kind, LONG id, LONG reserved1, LONG reserved2,
                                    BSTR* document) = 0;

 protected:
  ~IRaltoConfigServer() = default;
};
