// CXmlDocument: an XML document parsed with libxml2, with XPath 1.0
// selection under namespace prefixes of the caller's choice (the role the
// platform's DOM with "SelectionNamespaces" has on Windows).
//
// Contract: Load parses UTF-8 text (or what its declaration names, unless
// the options say UTF-8) without network access and without loading outside
// resources; the parser's limits on single texts and names apply. On
// failure the document is empty and ParseErrorCode/ParseErrorReason say
// why. Memory running out while loading or creating throws std::bad_alloc.
// The document owns its nodes; CXmlNode handles die with it. Trees are
// changed only when created empty or loaded editable. Selections
// answer nodes in document order, relative paths starting at the document,
// and never fail loudly: an expression that does not compile selects
// nothing. Thread safety: one document per thread while loading or
// changing; a loaded document may be read by several threads, but its
// selections are not synchronised (one selecting thread at a time).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "platform/xml_node.h"

// How CXmlDocument::Load builds the tree.
struct XmlLoadOptions {
  // Blank text between elements is dropped: for documents read only for
  // their elements and attributes (a smaller tree, built faster).
  bool dropBlankText = false;
  // The tree will be changed (else small texts are packed into their nodes,
  // where no edit may touch them).
  bool editable = false;
  // The text is UTF-8 whatever encoding its declaration names.
  bool utf8 = false;
};

class CXmlDocument {
 public:
  CXmlDocument();
  ~CXmlDocument();
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;

  // True when `text` parsed into a well-formed document. A document loaded
  // before is dropped first.
  bool Load(std::string_view text, const XmlLoadOptions& options = {});
  // Replaces any document by a new, editable one: the declaration (version
  // 1.0) and nothing else.
  void Create();
  // The parser's error number (libxml2's xmlParserErrors; 0 when the parser
  // gave none, as for a document too large to hand to it) and its reason,
  // "line N: <message>"; both empty after a good load.
  int ParseErrorCode() const { return errorCode_; }
  const std::string& ParseErrorReason() const { return errorReason_; }
  // True when the document has a document type declaration.
  bool HasDocumentType() const;

  // Binds `prefix` to the namespace `uri` for the selections.
  // REQUIRES: a document is loaded (else false).
  bool SetSelectionNamespace(const char* prefix, const char* uri);

  // The nodes that `xpath` selects, in document order.
  std::vector<CXmlNode> SelectNodes(const std::string& xpath) const;
  // The first of them in document order; empty when there is none.
  CXmlNode SelectSingleNode(const std::string& xpath) const;
  CXmlNode Root() const;
  // A new root element `name` without namespace; empty when the document
  // has a root already, is not loaded, or memory ran out.
  CXmlNode CreateRoot(const char* name);

  // The document as UTF-8 text with its declaration, written as the tree
  // stands (no layout added); "" when there is none or memory ran out.
  std::string Serialize() const;

 private:
  struct Parsed;

  std::unique_ptr<Parsed> parsed_;
  int errorCode_ = 0;
  std::string errorReason_;
};

// The parser's error number as the failure HRESULT of a document that does
// not parse: 0xC00C0000 + the number (a number of 0 or above 0xFFFF gives
// E_FAIL).
HRESULT XmlParseErrorResult(int parserErrorCode);

// `text` as an XPath 1.0 string literal that compares equal to it, whatever
// quotes it holds: 'text', "text" when it holds an apostrophe, or a
// concat() of quoted pieces when it holds both kinds of quote. XPath string
// literals have no escapes, so pasting a name between quotes breaks the
// expression or changes what it selects.
std::string XPathStringLiteral(std::string_view text);
