#include "platform/xml_document.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <mutex>
#include <new>

namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

const xmlChar* XmlChars(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// Parser errors go to the caller through ParseErrorReason, never to stderr.
void IgnoreStructuredError(void*, xmlErrorPtr) {}

void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

std::string Reason(const xmlError* error) {
  std::string message = error && error->message ? error->message : "unknown parser error";
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  if (error && error->line > 0) return "line " + std::to_string(error->line) + ": " + message;
  return message;
}

}  // namespace

// A document with the XPath context of its selections; relative paths
// start at the document.
struct CXmlDocument::Parsed {
  // Takes `owned` over once constructed. REQUIRES: owned holds a document.
  explicit Parsed(DocPtr& owned) : doc(owned.get()), xpath(xmlXPathNewContext(owned.get())) {
    if (!xpath) throw std::bad_alloc();
    xpath->node = reinterpret_cast<xmlNodePtr>(doc);
    owned.release();
  }
  ~Parsed() {
    xmlXPathFreeContext(xpath);
    xmlFreeDoc(doc);
  }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;

  const xmlDocPtr doc;
  const xmlXPathContextPtr xpath;
};

CXmlDocument::CXmlDocument() { InitLibraryOnce(); }

CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::Load(std::string_view text, const XmlLoadOptions& options) {
  parsed_.reset();
  errorCode_ = 0;
  errorReason_.clear();
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    errorReason_ = "document too large";
    return false;
  }
  xmlParserCtxtPtr context = xmlNewParserCtxt();
  if (!context) throw std::bad_alloc();
  context->sax->serror = IgnoreStructuredError;
  int flags = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  // A tree that is never changed may keep its small texts compact.
  if (!options.editable) flags |= XML_PARSE_COMPACT;
  if (options.dropBlankText) flags |= XML_PARSE_NOBLANKS;
  DocPtr doc(xmlCtxtReadMemory(context, text.data(), static_cast<int>(text.size()), nullptr,
                                options.utf8 ? "UTF-8" : nullptr, flags));
  if (!doc) {
    const xmlError* error = xmlCtxtGetLastError(context);
    errorCode_ = error ? error->code : 0;
    errorReason_ = Reason(error);
    xmlFreeParserCtxt(context);
    return false;
  }
  xmlFreeParserCtxt(context);
  parsed_ = std::make_unique<Parsed>(doc);
  return true;
}

void CXmlDocument::Create() {
  parsed_.reset();
  errorCode_ = 0;
  errorReason_.clear();
  DocPtr doc(xmlNewDoc(XmlChars("1.0")));
  if (!doc) throw std::bad_alloc();
  parsed_ = std::make_unique<Parsed>(doc);
}

bool CXmlDocument::HasDocumentType() const {
  return parsed_ && (parsed_->doc->intSubset || parsed_->doc->extSubset);
}

bool CXmlDocument::SetSelectionNamespace(const char* prefix, const char* uri) {
  return parsed_ && xmlXPathRegisterNs(parsed_->xpath, XmlChars(prefix), XmlChars(uri)) == 0;
}

std::vector<CXmlNode> CXmlDocument::SelectNodes(const std::string& xpath) const {
  std::vector<CXmlNode> nodes;
  if (!parsed_) return nodes;
  // A bad expression would report through this thread's error handler: keep
  // it quiet for the call.
  xmlStructuredErrorFunc previous = xmlStructuredError;
  void* previousContext = xmlStructuredErrorContext;
  xmlSetStructuredErrorFunc(nullptr, IgnoreStructuredError);
  xmlXPathObjectPtr result = xmlXPathEvalExpression(XmlChars(xpath.c_str()), parsed_->xpath);
  xmlSetStructuredErrorFunc(previousContext, previous);
  if (!result) return nodes;
  if (result->type == XPATH_NODESET && result->nodesetval) {
    const xmlNodeSet* set = result->nodesetval;
    nodes.reserve(set->nodeNr);
    for (int i = 0; i < set->nodeNr; ++i) nodes.push_back(CXmlNode(set->nodeTab[i]));
  }
  xmlXPathFreeObject(result);
  return nodes;
}

CXmlNode CXmlDocument::SelectSingleNode(const std::string& xpath) const {
  std::vector<CXmlNode> nodes = SelectNodes(xpath);
  return nodes.empty() ? CXmlNode() : nodes.front();
}

CXmlNode CXmlDocument::Root() const {
  return parsed_ ? CXmlNode(xmlDocGetRootElement(parsed_->doc)) : CXmlNode();
}

CXmlNode CXmlDocument::CreateRoot(const char* name) {
  if (!parsed_ || xmlDocGetRootElement(parsed_->doc)) return CXmlNode();
  xmlNodePtr root = xmlNewDocNode(parsed_->doc, nullptr, XmlChars(name), nullptr);
  if (!root) return CXmlNode();
  xmlDocSetRootElement(parsed_->doc, root);
  return CXmlNode(root);
}

std::string CXmlDocument::Serialize() const {
  if (!parsed_) return {};
  xmlChar* memory = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(parsed_->doc, &memory, &size, "UTF-8", 0);
  std::string text = memory ? std::string(reinterpret_cast<const char*>(memory), static_cast<size_t>(size)) : "";
  xmlFree(memory);
  return text;
}

HRESULT XmlParseErrorResult(int parserErrorCode) {
  if (parserErrorCode <= 0 || parserErrorCode > 0xFFFF) return E_FAIL;
  return static_cast<HRESULT>(0xC00C0000u | static_cast<uint32_t>(parserErrorCode));
}

std::string XPathStringLiteral(std::string_view text) {
  if (text.find('\'') == std::string_view::npos) return "'" + std::string(text) + "'";
  if (text.find('"') == std::string_view::npos) return "\"" + std::string(text) + "\"";
  // Both quotes: apostrophe-free pieces joined by "'" pieces.
  std::string literal = "concat(";
  size_t start = 0;
  for (;;) {
    size_t quote = text.find('\'', start);
    literal += "'" + std::string(text.substr(start, quote - start)) + "'";
    if (quote == std::string_view::npos) break;
    literal += ", \"'\", ";
    start = quote + 1;
  }
  return literal + ")";
}
