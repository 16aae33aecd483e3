// CXmlNode: a non-owning handle on one node of a CXmlDocument: attribute
// and text reads, walks over child and sibling elements by namespace and
// local name, and the few edits that a document built or changed in place
// needs.
//
// Contract: valid only while its document lives and the node is in it; an
// empty handle answers "absent" to every read and does nothing on an edit.
// Two handles compare equal when they name the same node. Reads never
// change the document; edits are for documents created empty or loaded
// editable (CXmlDocument), and report a failure (memory ran out) by an
// empty or false result. Thread safety: as for the document (concurrent
// reads of one document are fine, an edit excludes every other use).
#pragma once

#include <string>

struct _xmlNode;

class CXmlNode {
 public:
  CXmlNode() = default;

  explicit operator bool() const { return node_ != nullptr; }
  friend bool operator==(const CXmlNode&, const CXmlNode&) = default;

  // The value of the attribute `name` that has no namespace (what XPath's
  // @name selects), entity references expanded. False, with `out` emptied,
  // when the node has no such attribute.
  bool GetAttribute(const char* name, std::string& out) const;
  bool HasAttribute(const char* name) const;

  // True for an element in namespace `uri` with local name `localName`.
  bool IsElement(const char* uri, const char* localName) const;
  // True for a text node.
  bool IsText() const;
  // The local name of an element ("" for an empty handle).
  const char* Name() const;
  // The first child element in namespace `uri` named `localName` (no
  // arguments: any element); empty when there is none.
  CXmlNode FirstChildElement(const char* uri, const char* localName) const;
  CXmlNode FirstChildElement() const;
  // The next sibling element in namespace `uri` named `localName` (no
  // arguments: any element).
  CXmlNode NextSiblingElement(const char* uri, const char* localName) const;
  CXmlNode NextSiblingElement() const;
  // The next sibling node of any kind (text included).
  CXmlNode NextSibling() const;
  // The text content of the node and its descendants.
  std::string Text() const;

  // Appends a child element `name` without namespace; empty when it could
  // not be made.
  CXmlNode AppendElement(const char* name);
  // Appends `text` as a text child (merged into a text node just before it).
  void AppendText(const char* text);
  // Sets the attribute `name` (no namespace) to `value`.
  bool SetAttribute(const char* name, const char* value);
  // Takes the node with its subtree out of the document and frees it; the
  // handle becomes empty. False, and nothing changed, for a node without a
  // parent.
  bool Remove();

 private:
  friend class CXmlDocument;
  explicit CXmlNode(_xmlNode* node) : node_(node) {}

  _xmlNode* node_ = nullptr;
};
