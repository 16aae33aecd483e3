#include "alarmconfig/xml_document.h"

#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <mutex>
#include <new>

struct CXmlDocument::Parsed {
  xmlDocPtr doc = nullptr;
  xmlXPathContextPtr xpath = nullptr;
  ~Parsed() {
    if (xpath) xmlXPathFreeContext(xpath);
    if (doc) xmlFreeDoc(doc);
  }
};

namespace {

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

CXmlDocument::CXmlDocument() { InitLibraryOnce(); }

CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::Load(std::string_view text, BlankText blanks) {
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
  // Trees are never changed after loading, so small texts may be kept
  // compact.
  int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;
  if (blanks == BlankText::Drop) options |= XML_PARSE_NOBLANKS;
  xmlDocPtr doc = xmlCtxtReadMemory(context, text.data(), static_cast<int>(text.size()), nullptr,
                                    nullptr, options);
  if (!doc) {
    const xmlError* error = xmlCtxtGetLastError(context);
    errorCode_ = error ? error->code : 0;
    errorReason_ = Reason(error);
    xmlFreeParserCtxt(context);
    return false;
  }
  xmlFreeParserCtxt(context);
  auto parsed = std::make_unique<Parsed>();
  parsed->doc = doc;
  parsed->xpath = xmlXPathNewContext(doc);
  if (!parsed->xpath) throw std::bad_alloc();
  parsed_ = std::move(parsed);
  return true;
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
    for (int i = 0; i < set->nodeNr; ++i) nodes.emplace_back(set->nodeTab[i]);
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
