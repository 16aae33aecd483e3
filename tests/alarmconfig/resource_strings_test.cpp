// The string table: the server's texts as resources/strings.xml gives them,
// and the provider seam that serves them.
#include "alarmconfig/resource_string_table.h"

#include <gtest/gtest.h>

#include "alarmconfig/string_ids.h"

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

std::string WriteTemp(const std::string& name, const std::string& text) {
  std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream(path) << text;
  return path;
}

TEST(ResourceStrings, TheTableServesTheServersTextsExactly) {
  CResourceStringTable table;
  std::string error;
  ASSERT_TRUE(table.Load(AE_STRINGS_XML, &error)) << error;
  EXPECT_EQ(table.Get(1023), "Unknown User");
  EXPECT_EQ(table.Get(61463), "Brixham.RaltoOPC");
  EXPECT_EQ(table.Get(61468), "Error parsing configuration summary from Ralto configuration server:  \n%1");
  EXPECT_EQ(table.Get(61470), "Error parsing ProducedData.xml file from Ralto configuration server: \n%1");
  EXPECT_EQ(table.Get(61472), "Could not load current ProducedData.xml file.");
  EXPECT_EQ(table.Get(1), "");

  EXPECT_EQ(LoadResourceString(1023), "");  // no provider yet
  ResourceStringProvider previous = table.Install();
  EXPECT_FALSE(previous);
  EXPECT_EQ(LoadResourceString(61469),
            "Producing node found in Ralto Configuration Summary but not in current producer.");
  EXPECT_EQ(LoadResourceString(99), "");
  // Readers on other threads while the provider is replaced.
  std::thread reader([] {
    for (int i = 0; i < 2000; ++i) {
      std::string text = LoadResourceString(1023);
      ASSERT_TRUE(text == "Unknown User" || text == "other" || text.empty()) << text;
    }
  });
  for (int i = 0; i < 200; ++i) {
    SetResourceStringProvider([](uint32_t) { return std::string("other"); });
    table.Install();
  }
  reader.join();
  SetResourceStringProvider(nullptr);
  EXPECT_EQ(LoadResourceString(1023), "");
}

// The names the core loads texts by, against the table: each names the
// text it stands for (the window's texts are the resource test's).
TEST(ResourceStrings, EveryNamedIdIsTheEntryOfItsText) {
  CResourceStringTable table;
  ASSERT_TRUE(table.Load(AE_STRINGS_XML));
  const std::pair<uint32_t, const char*> kNamed[] = {
      {kStringUnknownUser, "Unknown User"},
      {kStringAckSuccess, "Success"},
      {kStringAckWriteFailed, "Error: OPC Write failed: "},
      {kStringAckNoVariable, "Error: Couldn't find variable %1"},
      {kStringAckTimeMismatch, "Error: Existing activation time (%1)"},
      {kStringAckNotConnected, "Error: Not Connected to "},
      {kStringDefaultServer, "Brixham.RaltoOPC"},
      {kStringNotConnected, "Not Connected"},
      {kStringConnected, "Connected"},
      {kStringInvalidServer, "Invalid Server"},
      {kStringConnecting, "Connecting..."},
      {kStringSummaryParseError, "Error parsing configuration summary "},
      {kStringProducerNotFound, "Producing node found in Ralto Configuration Summary "},
      {kStringProducedDataParseError, "Error parsing ProducedData.xml file "},
      {kStringMemberNotAccessible, "Could not access alarm block member variable "},
      {kStringProducedDataNotLoaded, "Could not load current ProducedData.xml file."},
  };
  for (const auto& [id, start] : kNamed) EXPECT_EQ(table.Get(id).rfind(start, 0), 0u) << id << ": " << table.Get(id);
}

TEST(ResourceStrings, BadTablesAreRefusedAndLeaveTheTableAsItWas) {
  CResourceStringTable table;
  ASSERT_TRUE(table.Load(WriteTemp("good.xml", "<strings><string id='7'>seven</string></strings>")));
  const std::pair<const char*, const char*> bad[] = {
      {"missing.xml", nullptr},
      {"broken.xml", "<strings><string id='1'>x</strings>"},
      {"root.xml", "<table><string id='1'>x</string></table>"},
      {"noid.xml", "<strings><string>x</string></strings>"},
      {"badid.xml", "<strings><string id='12a'>x</string></strings>"},
      {"bigid.xml", "<strings><string id='65536'>x</string></strings>"},
      {"twice.xml", "<strings><string id='1'>x</string><string id='01'>y</string></strings>"},
  };
  for (const auto& [name, text] : bad) {
    std::string path = text ? WriteTemp(name, text) : "/nonexistent/strings.xml";
    std::string error;
    EXPECT_FALSE(table.Load(path, &error)) << name;
    EXPECT_FALSE(error.empty()) << name;
    EXPECT_EQ(table.Get(7), "seven") << name;
  }
}

}  // namespace
