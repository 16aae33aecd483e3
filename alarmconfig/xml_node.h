// CXmlNode: a non-owning handle on one node of a CXmlDocument, with the few
// reads the import makes (attributes without namespace, child elements by
// namespace and local name).
//
// Contract: valid only while its document lives; an empty handle answers
// "absent" to every read. Reads never change the document. Thread safety:
// as for the document (concurrent reads of one document are fine).
#pragma once

#include <string>

struct _xmlNode;

class CXmlNode {
 public:
  CXmlNode() = default;
  explicit CXmlNode(_xmlNode* node) : node_(node) {}

  explicit operator bool() const { return node_ != nullptr; }
  _xmlNode* Get() const { return node_; }

  // The value of the attribute `name` that has no namespace (what XPath's
  // @name selects), entity references expanded. False, with `out` emptied,
  // when the node has no such attribute.
  bool GetAttribute(const char* name, std::string& out) const;
  bool HasAttribute(const char* name) const;

  // True for an element in namespace `uri` with local name `localName`.
  bool IsElement(const char* uri, const char* localName) const;
  // The first child element in namespace `uri` named `localName` (no
  // arguments: any element); empty when there is none.
  CXmlNode FirstChildElement(const char* uri, const char* localName) const;
  CXmlNode FirstChildElement() const;
  // The next sibling element in namespace `uri` named `localName` (no
  // arguments: any element).
  CXmlNode NextSiblingElement(const char* uri, const char* localName) const;
  CXmlNode NextSiblingElement() const;
  // The text content of the node and its descendants.
  std::string Text() const;

 private:
  _xmlNode* node_ = nullptr;
};
