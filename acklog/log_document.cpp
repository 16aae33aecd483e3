#include "acklog/log_document.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "acklog/log_layout.h"
#include "platform/debug.h"
#include "platform/utf.h"

namespace {

constexpr const char* kRootPath = "AlarmFile[@Version=1.0]";
constexpr const char* kRecordsPath = "AlarmFile[@Version=1.0]/AlarmRecord";
constexpr const char* kTimeFormat = "%Y-%m-%d %H:%M:%S";
// The parser refuses longer text nodes (without its "huge" option, which
// would also lift its guard against entity bombs in foreign files).
constexpr size_t kMaxFieldBytes = 1 << 20;

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

void InitXml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

std::vector<xmlNodePtr> SelectNodes(xmlDocPtr doc, const char* path) {
  std::vector<xmlNodePtr> nodes;
  xmlXPathContextPtr context = xmlXPathNewContext(doc);
  if (!context) return nodes;
  context->node = reinterpret_cast<xmlNodePtr>(doc);  // paths are relative to the document
  xmlXPathObjectPtr result = xmlXPathEvalExpression(X(path), context);
  if (result && result->nodesetval) {
    nodes.reserve(size_t(result->nodesetval->nodeNr));
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.push_back(result->nodesetval->nodeTab[i]);
  }
  xmlXPathFreeObject(result);
  xmlXPathFreeContext(context);
  return nodes;
}

xmlNodePtr SelectRoot(xmlDocPtr doc) {
  std::vector<xmlNodePtr> roots = SelectNodes(doc, kRootPath);
  return roots.empty() ? nullptr : roots.front();
}

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// XML 1.0 cannot hold every string: what it cannot hold becomes U+FFFD, so
// that a stray byte in a comment never makes the whole file unreadable; for
// the same reason a text stops after kMaxFieldBytes.
std::string XmlSafeText(const std::string& text) {
  std::string out;
  out.reserve(std::min(text.size(), kMaxFieldBytes));
  for (size_t i = 0; i < text.size() && out.size() < kMaxFieldBytes;) {
    char32_t c = 0;
    size_t start = i;
    if (DecodeUtf8(text, i, c) && IsXmlChar(c)) {
      out.append(text, start, i - start);
    } else {
      AppendUtf8(out, 0xFFFD);
      if (i == start) ++i;
    }
  }
  return out;
}

void AddText(xmlNodePtr parent, const char* text) {
  xmlAddChild(parent, xmlNewDocText(parent->doc, X(text)));
}

// One field: four spaces, the element with its text, a line feed. An
// element that cannot be created is skipped with its layout text.
xmlNodePtr AddField(xmlNodePtr record, const char* name, const std::string& text) {
  xmlNodePtr element = xmlNewDocNode(record->doc, nullptr, X(name), nullptr);
  if (!element) return nullptr;
  if (!text.empty()) xmlAddChild(element, xmlNewDocText(record->doc, X(XmlSafeText(text).c_str())));
  AddText(record, "    ");
  xmlAddChild(record, element);
  AddText(record, "\n");
  return element;
}

std::string ElementText(xmlNodePtr element) {
  xmlNodePtr child = element->children;
  if (!child) return {};
  if (!child->next && child->type == XML_TEXT_NODE && child->content)
    return reinterpret_cast<const char*>(child->content);
  xmlChar* content = xmlNodeGetContent(element);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

bool IsLayoutText(xmlNodePtr node) {
  if (!node || node->type != XML_TEXT_NODE || !node->content) return false;
  for (const xmlChar* p = node->content; *p; ++p)
    if (*p != '\n' && *p != '\r' && *p != ' ' && *p != '\t') return false;
  return true;
}

}  // namespace

std::unique_ptr<CLogDocument> CLogDocument::CreateEmpty() {
  InitXml();
  xmlDocPtr doc = xmlNewDoc(X("1.0"));
  return doc ? std::make_unique<CLogDocument>(doc) : nullptr;
}

std::unique_ptr<CLogDocument> CLogDocument::Parse(const std::string& text) {
  InitXml();
  if (text.size() > size_t(INT_MAX)) return nullptr;
  xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  // A log file has no document type; one with entity declarations is not
  // ours, and its entities are not expanded here.
  if (doc && (doc->intSubset || doc->extSubset)) {
    xmlFreeDoc(doc);
    doc = nullptr;
  }
  return doc ? std::make_unique<CLogDocument>(doc) : nullptr;
}

std::string CLogDocument::Serialize() const {
  xmlChar* memory = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc_, &memory, &size, "UTF-8", 0);
  std::string text = memory ? std::string(reinterpret_cast<const char*>(memory), size_t(size)) : "";
  xmlFree(memory);
  return text;
}

std::unique_ptr<CLogDocument> OpenLogDocument(const std::string& path, bool writable, bool createFolders,
                                              CLogFile& file) {
  if (createFolders) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  }
  if (!file.Open(path, writable)) return nullptr;
  return LoadLogDocument(file);
}

std::unique_ptr<CLogDocument> LoadLogDocument(CLogFile& file) {
  std::string bytes;
  std::unique_ptr<CLogDocument> doc;
  if (file.ReadAll(bytes)) {
    size_t keep = 0;
    if (bytes.empty()) {
      if (file.IsWritable()) doc = CLogDocument::CreateEmpty();
    } else if (!(doc = CLogDocument::Parse(bytes)) && FindInterruptedWrite(bytes, keep)) {
      // Read as its intact records; the next save rewrites the file whole.
      if (keep > 0)
        doc = CLogDocument::Parse(bytes.substr(0, keep).append(kLogTail));
      else if (file.IsWritable())
        doc = CLogDocument::CreateEmpty();
    }
    if (!doc && !bytes.empty() && file.IsWritable())
      DebugOutput("Log file does not parse, left untouched: " + file.Path() + "\n");
  }
  if (!doc) file.Close();
  return doc;
}

bool AcceptsRecords(const CLogDocument& doc) {
  return !xmlDocGetRootElement(doc.Get()) || SelectRoot(doc.Get());
}

bool AppendRecord(CLogDocument& doc, const AckRecord& record) {
  xmlNodePtr root = SelectRoot(doc.Get());
  if (!root) {
    // XML allows one top element: a document with another cannot take ours.
    if (xmlDocGetRootElement(doc.Get())) return false;
    root = xmlNewDocNode(doc.Get(), nullptr, X("AlarmFile"), nullptr);
    if (!root) return false;
    xmlDocSetRootElement(doc.Get(), root);
    xmlSetProp(root, X("Version"), X("1.0"));
    AddText(root, "\n");
  }
  xmlNodePtr element = xmlNewDocNode(doc.Get(), nullptr, X("AlarmRecord"), nullptr);
  if (!element) return false;
  xmlAddChild(root, element);
  AddText(root, "\n");
  AddText(element, "\n");
  if (xmlNodePtr time = AddField(element, "AckTimeStamp", record.ackTime.Format(true)))
    xmlSetProp(time, X("TimeZone"), X("UTC"));
  AddField(element, "Area", record.area);
  AddField(element, "Target", record.target);
  AddField(element, "Variable", record.variable);
  AddField(element, "AEServer", record.server);
  AddField(element, "Operator", record.operatorName);
  AddField(element, "Message", record.message);
  AddField(element, "AcknowledgeComment", record.comment);
  AddField(element, "Condition", record.condition);
  AddField(element, "SubCondition", record.subcondition);
  AddField(element, "Result", record.result);
  return true;
}

bool SaveLogDocument(const CLogDocument& doc, CLogFile& file) {
  std::string bytes = doc.Serialize();
  if (bytes.empty()) {
    file.Close();
    return false;
  }
  return file.ReplaceAndClose(bytes);
}

std::vector<xmlNodePtr> SelectRecords(const CLogDocument& doc) { return SelectNodes(doc.Get(), kRecordsPath); }

void ReadRecord(xmlNodePtr node, AckRecord& record) {
  struct Field {
    const char* name;
    std::string AckRecord::*member;  // null for the time stamp
  };
  static const Field kFields[] = {
      {"AckTimeStamp", nullptr},
      {"Area", &AckRecord::area},
      {"Target", &AckRecord::target},
      {"Variable", &AckRecord::variable},
      {"AEServer", &AckRecord::server},
      {"Operator", &AckRecord::operatorName},
      {"Message", &AckRecord::message},
      {"AcknowledgeComment", &AckRecord::comment},
      {"Condition", &AckRecord::condition},
      {"SubCondition", &AckRecord::subcondition},
      {"Result", &AckRecord::result},
  };
  constexpr size_t kCount = sizeof kFields / sizeof kFields[0];
  bool seen[kCount] = {};
  std::string timeText;
  for (xmlNodePtr child = node->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    const char* name = reinterpret_cast<const char*>(child->name);
    for (size_t i = 0; i < kCount; ++i) {
      if (seen[i] || strcmp(name, kFields[i].name) != 0) continue;
      seen[i] = true;  // the first element of a name counts, as a selection would find it
      if (kFields[i].member)
        record.*kFields[i].member = ElementText(child);
      else
        timeText = ElementText(child);
      break;
    }
  }
  ParseDateTime(timeText, kTimeFormat, record.ackTime);
}

bool RemoveRecord(xmlNodePtr node) {
  if (!node->parent) return false;
  // Without its layout line feed, a cache file emptied by many copies goes
  // back to its first form instead of gathering blank lines.
  xmlNodePtr layout = IsLayoutText(node->next) ? node->next : nullptr;
  xmlUnlinkNode(node);
  xmlFreeNode(node);
  if (layout) {
    xmlUnlinkNode(layout);
    xmlFreeNode(layout);
  }
  return true;
}
