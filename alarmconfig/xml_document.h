// CXmlDocument: an XML document parsed with libxml2, with XPath 1.0
// selection under namespace prefixes of the caller's choice (the role the
// platform's DOM with "SelectionNamespaces" has on Windows).
//
// Contract: Load parses UTF-8 text (or what its declaration names) without
// network access and without loading outside resources; the parser's limits
// on single texts and names apply. On failure the document is empty and
// ParseErrorCode/ParseErrorReason say why. The document owns its nodes;
// CXmlNode handles die with it. Selections answer elements in document
// order and never fail loudly: an expression that does not compile selects
// nothing. Thread safety: one document per thread while loading; a loaded
// document may be read by several threads, but its selections are not
// synchronised (one selecting thread at a time).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "alarmconfig/xml_node.h"
#include "platform/com.h"

class CXmlDocument {
 public:
  CXmlDocument();
  ~CXmlDocument();
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;

  // What a document keeps of blank text between elements: Keep for
  // documents whose text is read, Drop for documents read only for their
  // elements and attributes (a smaller tree, built faster).
  enum class BlankText { Keep, Drop };

  // True when `text` parsed into a well-formed document. A document loaded
  // before is dropped first.
  bool Load(std::string_view text, BlankText blanks = BlankText::Keep);
  // The parser's error number (libxml2's xmlParserErrors; 0 when the parser
  // gave none, as for a document too large to hand to it) and its reason,
  // "line N: <message>"; both empty after a good load.
  int ParseErrorCode() const { return errorCode_; }
  const std::string& ParseErrorReason() const { return errorReason_; }

  // Binds `prefix` to the namespace `uri` for the selections.
  // REQUIRES: a document is loaded (else false).
  bool SetSelectionNamespace(const char* prefix, const char* uri);

  // The nodes that `xpath` selects, in document order.
  std::vector<CXmlNode> SelectNodes(const std::string& xpath) const;
  // The first of them in document order; empty when there is none.
  CXmlNode SelectSingleNode(const std::string& xpath) const;
  CXmlNode Root() const;

 private:
  struct Parsed;
  std::unique_ptr<Parsed> parsed_;
  int errorCode_ = 0;
  std::string errorReason_;
};

// The parser's error number as the failure HRESULT that the import returns:
// 0xC00C0000 + the number (a number of 0 or above 0xFFFF gives E_FAIL).
HRESULT XmlParseErrorResult(int parserErrorCode);

// `text` as an XPath 1.0 string literal that compares equal to it, whatever
// quotes it holds: 'text', "text" when it holds an apostrophe, or a
// concat() of quoted pieces when it holds both kinds of quote. XPath string
// literals have no escapes, so pasting a name between quotes breaks the
// expression or changes what it selects.
std::string XPathStringLiteral(std::string_view text);
