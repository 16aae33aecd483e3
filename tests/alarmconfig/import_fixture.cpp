#include "import_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "alarmconfig/config_import.h"
#include "alarmconfig/tracked_mutex.h"
#include "platform/registry.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/source_cache.h"

namespace fs = std::filesystem;

namespace plantdoc {

std::string Attr(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Summary(const std::vector<std::pair<std::string, std::string>>& producers) {
  std::string text = "<ConfigurationSummary xmlns=\"urn:ralto:config:1.0\">\n";
  for (const auto& [name, id] : producers) {
    text += "  <NodeSummary Name=\"" + Attr(name) + "\" ProducerId=\"" + Attr(id) +
            "\"><Document DocType=\"ProducedData\"/></NodeSummary>\n";
  }
  text += "  <NodeSummary Name=\"HMI01\" ProducerId=\"90\"><Document DocType=\"ConsumedData\"/></NodeSummary>\n";
  return text + "</ConfigurationSummary>\n";
}

std::string ProducedData(const std::string& node, const std::string& secs, const std::string& nsecs,
                         const std::string& structures) {
  return "<ProducedData xmlns=\"urn:ralto:config:1.0\">\n  <Producer Name=\"" + Attr(node) +
         "\" ConfigTimeSecs=\"" + secs + "\" ConfigTimeNSecs=\"" + nsecs +
         "\">\n    <RaltoConfigExtension><BlockStructures>\n" + structures +
         "    </BlockStructures></RaltoConfigExtension>\n  </Producer>\n</ProducedData>\n";
}

std::string AnalogBlock(const std::string& name, const std::string& area, const std::string& message,
                        const std::string& rocMessage, const std::string& priorities) {
  std::string n = Attr(name);
  return "<BlockStructure Name=\"" + n + "\">\n" +
         "  <BlockSubElement Name=\"" + n + ".AS\" BlockType=\"O0C\"/>\n" +
         "  <BlockSubElement Name=\"" + n + ".RS\" BlockType=\"O0C\"/>\n" +
         "  <BlockSubElement Name=\"" + n + ".LP\" BlockType=\"O0C\" InitValue=\"" + priorities + "\"/>\n" +
         "  <BlockSubElement Name=\"" + n + ".FC\" BlockType=\"O0C\"/>\n" +
         "  <Area Data=\"" + Attr(area) + "\"/>\n" +
         "  <Message Data=\"" + Attr(message) + "\" DataROC=\"" + Attr(rocMessage) + "\"/>\n" +
         "</BlockStructure>\n";
}

std::string DigitalBlock(const std::string& name, const std::string& area, const std::string& message,
                         const std::string& priority) {
  std::string n = Attr(name);
  return "<BlockStructure Name=\"" + n + "\">\n" +
         "  <BlockSubElement Name=\"" + n + ".AS\" BlockType=\"O0D\"/>\n" +
         "  <BlockSubElement Name=\"" + n + ".LP\" BlockType=\"O0D\" InitValue=\"" + priority + "\"/>\n" +
         "  <BlockSubElement Name=\"" + n + ".FC\" BlockType=\"O0D\"/>\n" +
         "  <Area Data=\"" + Attr(area) + "\"/>\n" +
         "  <Message Data=\"" + Attr(message) + "\"/>\n" +
         "</BlockStructure>\n";
}

}  // namespace plantdoc

void ImportTest::SetUp() {
  std::string error;
  ASSERT_EQ(RegisterPlugin(RALTO_CONFIG_LIBRARY, &error), S_OK) << error;

  dir_ = (fs::temp_directory_path() / "plant").string();
  fs::create_directories(dir_);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, dir_),
            ERROR_SUCCESS);

  CResourceStringTable strings;
  ASSERT_TRUE(strings.Load(AE_STRINGS_XML, &error)) << error;
  previousStrings_ = strings.Install();
  SetMessageBoxSink(&messages_);
}

void ImportTest::TearDown() {
  SetMessageBoxSink(nullptr);
  SetResourceStringProvider(std::move(previousStrings_));
  g_bInteractive = 0;
  g_SourceCache.Clear(1);
}

void ImportTest::Write(const std::string& name, const std::string& text) {
  std::string path = dir_ + "/" + name;
  std::ofstream out(path + ".tmp", std::ios::binary);
  out << text;
  out.close();
  fs::rename(path + ".tmp", path);
}

void ImportTest::Remove(const std::string& name) { fs::remove(dir_ + "/" + name); }

void ImportTest::CopyDocuments(const std::string& from) {
  for (const auto& entry : fs::directory_iterator(from)) {
    if (entry.path().extension() == ".xml")
      fs::copy_file(entry.path(), dir_ + "/" + entry.path().filename().string(),
                    fs::copy_options::overwrite_existing);
  }
}

bool ImportTest::Plantgen(const std::string& arguments) {
  std::string command = std::string(PYTHON3) + " " + PLANTGEN_SCRIPT + " " + arguments + " '" + dir_ + "'";
  return std::system(command.c_str()) == 0;
}

HRESULT ImportTest::Import(CAlarmVarStore& store, bool incremental) {
  TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
  return ImportConfiguration(store, incremental);
}
