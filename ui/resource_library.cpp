#include "ui/resource_library.h"

#include <QFile>
#include <QFont>
#include <QResource>
#include <QXmlStreamReader>

#include <atomic>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/resource_strings.h"

namespace {

using StringTable = std::unordered_map<uint32_t, std::string>;

const QString kStringTablePath = QStringLiteral(":/strings.xml");
const QString kFormFont = QStringLiteral("MS Sans Serif");
const QString kFormFontStandIn = QStringLiteral("Liberation Sans");

struct LoadedLibrary {
  QString path;
  ResourceStringProvider replaced;
};
// Main thread only, as Load and Free are.
std::optional<LoadedLibrary> g_library;
std::atomic<bool> g_loaded{false};

std::optional<uint32_t> ParseId(QStringView text) {
  if (text.isEmpty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c.unicode() - u'0');
  }
  if (value > 0xFFFF) return std::nullopt;
  return value;
}

// <strings><string id="N">text</string>...</strings>, the text exactly as
// written; nothing when the table is damaged (a bad or repeated id).
std::optional<StringTable> ReadStringTable() {
  QFile file(kStringTablePath);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QXmlStreamReader xml(&file);
  if (!xml.readNextStartElement() || xml.name() != u"strings") return std::nullopt;
  StringTable table;
  while (xml.readNextStartElement()) {
    if (xml.name() != u"string") {
      xml.skipCurrentElement();
      continue;
    }
    std::optional<uint32_t> id = ParseId(xml.attributes().value(QLatin1String("id")));
    if (!id) return std::nullopt;
    std::string text = xml.readElementText().toStdString();
    if (!table.emplace(*id, std::move(text)).second) return std::nullopt;
  }
  if (xml.hasError()) return std::nullopt;
  return table;
}

}  // namespace

bool CResourceLibrary::Load(const QString& folder) {
  Free();
  const QString path = folder + u'/' + QLatin1String(kFileName);
  if (!QFile::exists(path) || !QResource::registerResource(path)) return false;
  std::optional<StringTable> table = ReadStringTable();
  if (!table) {
    QResource::unregisterResource(path);
    return false;
  }
  auto texts = std::make_shared<const StringTable>(std::move(*table));
  ResourceStringProvider replaced = SetResourceStringProvider([texts](uint32_t id) {
    auto it = texts->find(id);
    return it == texts->end() ? std::string() : it->second;
  });
  g_library = LoadedLibrary{path, std::move(replaced)};
  QFont::insertSubstitution(kFormFont, kFormFontStandIn);
  g_loaded = true;
  return true;
}

void CResourceLibrary::Free() {
  if (!g_library) return;
  g_loaded = false;
  QFont::removeSubstitutions(kFormFont);
  SetResourceStringProvider(std::move(g_library->replaced));
  QResource::unregisterResource(g_library->path);
  g_library.reset();
}

bool CResourceLibrary::IsLoaded() { return g_loaded; }

QString CResourceLibrary::String(uint32_t id) { return QString::fromStdString(LoadResourceString(id)); }

QString CResourceLibrary::Format(uint32_t id, std::initializer_list<QString> arguments) {
  const QString pattern = String(id);
  QString text;
  text.reserve(pattern.size());
  auto next = arguments.begin();
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == u'%' && i + 1 < pattern.size()) {
      const QChar directive = pattern[i + 1];
      if (directive == u'%') {
        text += u'%';
        ++i;
        continue;
      }
      if (directive == u's' && next != arguments.end()) {
        text += *next++;
        ++i;
        continue;
      }
    }
    text += c;
  }
  return text;
}
