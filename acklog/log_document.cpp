#include "acklog/log_document.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

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

// The log is read and changed in place, and is UTF-8 whatever it declares.
const XmlLoadOptions kLogFile{.editable = true, .utf8 = true};

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

// One field: four spaces, the element with its text, a line feed. An
// element that cannot be created (memory ran out) is left out.
CXmlNode AddField(CXmlNode& record, const char* name, const std::string& text) {
  record.AppendText("    ");
  CXmlNode element = record.AppendElement(name);
  if (!element) return element;
  if (!text.empty()) element.AppendText(XmlSafeText(text).c_str());
  record.AppendText("\n");
  return element;
}

bool IsLayoutText(const CXmlNode& node) {
  return node.IsText() && node.Text().find_first_not_of("\n\r \t") == std::string::npos;
}

CXmlNode SelectRoot(const CLogDocument& doc) { return doc.Xml().SelectSingleNode(kRootPath); }

}  // namespace

std::unique_ptr<CLogDocument> CLogDocument::CreateEmpty() {
  try {
    std::unique_ptr<CLogDocument> doc(new CLogDocument());
    doc->xml_.Create();
    return doc;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<CLogDocument> CLogDocument::Parse(const std::string& text) {
  try {
    std::unique_ptr<CLogDocument> doc(new CLogDocument());
    // A log file has no document type; one with entity declarations is not
    // ours, and its entities are not expanded here.
    if (!doc->xml_.Load(text, kLogFile) || doc->xml_.HasDocumentType()) return nullptr;
    return doc;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
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

bool AcceptsRecords(const CLogDocument& doc) { return !doc.Xml().Root() || SelectRoot(doc); }

bool AppendRecord(CLogDocument& doc, const AckRecord& record) {
  CXmlNode root = SelectRoot(doc);
  if (!root) {
    // XML allows one top element: a document with another cannot take ours.
    root = doc.Xml().CreateRoot("AlarmFile");
    if (!root) return false;
    root.SetAttribute("Version", "1.0");
    root.AppendText("\n");
  }
  CXmlNode element = root.AppendElement("AlarmRecord");
  if (!element) return false;
  root.AppendText("\n");
  element.AppendText("\n");
  if (CXmlNode time = AddField(element, "AckTimeStamp", record.ackTime.Format(true)))
    time.SetAttribute("TimeZone", "UTC");
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

std::vector<CXmlNode> SelectRecords(const CLogDocument& doc) { return doc.Xml().SelectNodes(kRecordsPath); }

void ReadRecord(const CXmlNode& node, AckRecord& record) {
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
  for (CXmlNode child = node.FirstChildElement(); child; child = child.NextSiblingElement()) {
    const char* name = child.Name();
    for (size_t i = 0; i < kCount; ++i) {
      if (seen[i] || strcmp(name, kFields[i].name) != 0) continue;
      seen[i] = true;  // the first element of a name counts, as a selection would find it
      if (kFields[i].member)
        record.*kFields[i].member = child.Text();
      else
        timeText = child.Text();
      break;
    }
  }
  ParseDateTime(timeText, kTimeFormat, record.ackTime);
}

bool RemoveRecord(CXmlNode node) {
  // Without its layout line feed, a cache file emptied by many copies goes
  // back to its first form instead of gathering blank lines.
  CXmlNode layout = node.NextSibling();
  if (!node.Remove()) return false;
  if (IsLayoutText(layout)) layout.Remove();
  return true;
}
