#include "alarmconfig/resource_string_table.h"

#include <fstream>
#include <sstream>

#include "platform/xml_document.h"

namespace {

bool Fail(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

bool ParseId(const std::string& text, uint32_t& id) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > 0xFFFF) return false;
  id = value;
  return true;
}

}  // namespace

bool CResourceStringTable::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  std::stringstream content;
  content << in.rdbuf();
  if (in.bad()) return Fail(error, "cannot read " + path);

  CXmlDocument document;
  if (!document.Load(content.str())) return Fail(error, path + ": " + document.ParseErrorReason());
  if (!document.Root() || document.SelectNodes("/strings").empty())
    return Fail(error, path + ": the root element is not <strings>");

  std::unordered_map<uint32_t, std::string> texts;
  for (const CXmlNode& entry : document.SelectNodes("/strings/string")) {
    std::string idText;
    uint32_t id = 0;
    if (!entry.GetAttribute("id", idText) || !ParseId(idText, id))
      return Fail(error, path + ": a <string> without a decimal id in 0..65535 (\"" + idText + "\")");
    if (!texts.emplace(id, entry.Text()).second)
      return Fail(error, path + ": id " + idText + " appears twice");
  }
  texts_ = std::move(texts);
  return true;
}

std::string CResourceStringTable::Get(uint32_t id) const {
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

ResourceStringProvider CResourceStringTable::Install() const {
  return SetResourceStringProvider([texts = texts_](uint32_t id) {
    auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  });
}
