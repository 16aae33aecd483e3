#include "platform/xml_node.h"

#include <libxml/tree.h>

namespace {

const char* Chars(const xmlChar* s) { return reinterpret_cast<const char*>(s); }
const xmlChar* XmlChars(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// An element in namespace `uri` named `localName`; any element when
// `localName` is null.
bool Matches(const xmlNode* node, const char* uri, const char* localName) {
  if (node->type != XML_ELEMENT_NODE) return false;
  if (!localName) return true;
  return xmlStrEqual(node->name, XmlChars(localName)) && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, XmlChars(uri));
}

// The attribute without namespace as the document wrote it (a DTD's
// defaults are not attributes of the node, as for XPath).
xmlAttr* FindAttribute(const xmlNode* node, const char* name) {
  if (!node || node->type != XML_ELEMENT_NODE) return nullptr;
  for (xmlAttr* attr = node->properties; attr; attr = attr->next) {
    if (attr->ns == nullptr && xmlStrEqual(attr->name, XmlChars(name))) return attr;
  }
  return nullptr;
}

}  // namespace

bool CXmlNode::GetAttribute(const char* name, std::string& out) const {
  out.clear();
  xmlAttr* attr = FindAttribute(node_, name);
  if (!attr) return false;
  const xmlNode* value = attr->children;
  if (!value) return true;
  // The usual case, a single text node, is read in place.
  if (value->type == XML_TEXT_NODE && value->next == nullptr) {
    if (value->content) out = Chars(value->content);
    return true;
  }
  xmlChar* text = xmlNodeListGetString(node_->doc, attr->children, 1);
  if (text) {
    out = Chars(text);
    xmlFree(text);
  }
  return true;
}

bool CXmlNode::HasAttribute(const char* name) const {
  return FindAttribute(node_, name) != nullptr;
}

bool CXmlNode::IsElement(const char* uri, const char* localName) const {
  return node_ && localName && Matches(node_, uri, localName);
}

bool CXmlNode::IsText() const { return node_ && node_->type == XML_TEXT_NODE; }

const char* CXmlNode::Name() const {
  return node_ && node_->type == XML_ELEMENT_NODE ? Chars(node_->name) : "";
}

CXmlNode CXmlNode::FirstChildElement(const char* uri, const char* localName) const {
  if (!node_) return CXmlNode();
  for (xmlNode* child = node_->children; child; child = child->next) {
    if (Matches(child, uri, localName)) return CXmlNode(child);
  }
  return CXmlNode();
}

CXmlNode CXmlNode::NextSiblingElement(const char* uri, const char* localName) const {
  if (!node_) return CXmlNode();
  for (xmlNode* next = node_->next; next; next = next->next) {
    if (Matches(next, uri, localName)) return CXmlNode(next);
  }
  return CXmlNode();
}

CXmlNode CXmlNode::FirstChildElement() const { return FirstChildElement(nullptr, nullptr); }

CXmlNode CXmlNode::NextSiblingElement() const { return NextSiblingElement(nullptr, nullptr); }

CXmlNode CXmlNode::NextSibling() const { return CXmlNode(node_ ? node_->next : nullptr); }

std::string CXmlNode::Text() const {
  if (!node_) return {};
  // The usual element, empty or holding one text node, is read in place.
  if (node_->type == XML_ELEMENT_NODE) {
    const xmlNode* child = node_->children;
    if (!child) return {};
    if (!child->next && child->type == XML_TEXT_NODE && child->content) return Chars(child->content);
  }
  xmlChar* text = xmlNodeGetContent(node_);
  if (!text) return {};
  std::string out = Chars(text);
  xmlFree(text);
  return out;
}

CXmlNode CXmlNode::AppendElement(const char* name) {
  if (!node_) return CXmlNode();
  xmlNode* element = xmlNewDocNode(node_->doc, nullptr, XmlChars(name), nullptr);
  if (!element) return CXmlNode();
  return CXmlNode(xmlAddChild(node_, element));
}

void CXmlNode::AppendText(const char* text) {
  if (!node_) return;
  // xmlAddChild frees a text node that it merges into the one before.
  if (xmlNode* node = xmlNewDocText(node_->doc, XmlChars(text))) xmlAddChild(node_, node);
}

bool CXmlNode::SetAttribute(const char* name, const char* value) {
  return node_ && xmlSetProp(node_, XmlChars(name), XmlChars(value)) != nullptr;
}

bool CXmlNode::Remove() {
  if (!node_ || !node_->parent) return false;
  xmlUnlinkNode(node_);
  xmlFreeNode(node_);
  node_ = nullptr;
  return true;
}
