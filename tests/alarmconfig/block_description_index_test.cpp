// The index answers exactly what the per-block selections of the documents'
// Area and Message answer: compared with those selections, run with safely
// quoted names, on the example plant, a generated plant and documents full
// of the awkward cases.
#include "alarmconfig/block_description_index.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "ralto/config_server.h"

namespace fs = std::filesystem;

namespace {

constexpr char kStructures[] =
    "/QQQ:ProducedData/QQQ:Producer/QQQ:RaltoConfigExtension/QQQ:BlockStructures/QQQ:BlockStructure";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every name worth asking about: structure names, references, the block
// names of members, and a few that name nothing.
std::set<std::string> NamesIn(const CXmlDocument& doc) {
  std::set<std::string> names = {"", "NOSUCHBLOCK", "'", "\""};
  std::string value;
  for (const CXmlNode& n : doc.SelectNodes(std::string(kStructures)))
    if (n.GetAttribute("Name", value)) names.insert(value);
  for (const CXmlNode& n : doc.SelectNodes(std::string(kStructures) + "/QQQ:EmbeddedBlock"))
    if (n.GetAttribute("Reference", value)) names.insert(value);
  for (const CXmlNode& n : doc.SelectNodes(std::string(kStructures) + "/QQQ:BlockSubElement"))
    if (n.GetAttribute("Name", value)) names.insert(value.substr(0, value.rfind('.')));
  return names;
}

void ExpectIndexMatchesSelections(const std::string& text) {
  CXmlDocument doc;
  ASSERT_TRUE(doc.Load(text)) << doc.ParseErrorReason();
  ASSERT_TRUE(doc.SetSelectionNamespace("QQQ", kRaltoConfigNamespace));
  CBlockDescriptionIndex index(doc);
  const std::string base = kStructures;
  for (const std::string& block : NamesIn(doc)) {
    std::string b = XPathStringLiteral(block);
    EXPECT_EQ(index.Structure(block).area.Get(), doc.SelectSingleNode(base + "[@Name=" + b + "]/QQQ:Area").Get())
        << block;
    EXPECT_EQ(index.Structure(block).message.Get(),
              doc.SelectSingleNode(base + "[@Name=" + b + "]/QQQ:Message").Get())
        << block;
    EXPECT_EQ(index.Embedded(block).area.Get(),
              doc.SelectSingleNode(base + "/QQQ:EmbeddedBlock[@Reference=" + b + "]/QQQ:Area").Get())
        << block;
    EXPECT_EQ(index.Embedded(block).message.Get(),
              doc.SelectSingleNode(base + "/QQQ:EmbeddedBlock[@Reference=" + b + "]/QQQ:Message").Get())
        << block;
  }
}

TEST(BlockDescriptionIndex, MatchesTheSelectionsOnTheExamplePlant) {
  for (const auto& entry : fs::directory_iterator(AE_EXAMPLE_PLANT_DIR)) {
    if (entry.path().filename().string().rfind("ProducedData_", 0) != 0) continue;
    SCOPED_TRACE(entry.path().string());
    ExpectIndexMatchesSelections(ReadFile(entry.path()));
  }
}

TEST(BlockDescriptionIndex, MatchesTheSelectionsOnAGeneratedPlant) {
  fs::path dir = fs::temp_directory_path() / "generated";
  std::string command = std::string(PYTHON3) + " " + PLANTGEN_SCRIPT +
                        " --producers 1 --blocks 300 --embedded-share 0.3 --seed 7 '" + dir.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ExpectIndexMatchesSelections(ReadFile(dir / "ProducedData_1.xml"));
}

// First in document order, a later structure of the same name filling in
// what an earlier one lacks, elements outside the path or namespace, and
// names holding quotes and markup characters.
TEST(BlockDescriptionIndex, MatchesTheSelectionsOnAwkwardDocuments) {
  ExpectIndexMatchesSelections(R"(<ProducedData xmlns="urn:ralto:config:1.0" xmlns:o="urn:other">
  <Producer ConfigTimeSecs="1" ConfigTimeNSecs="2">
    <RaltoConfigExtension>
      <BlockStructures>
        <BlockStructure Name="DUP"><Message Data="first message"/></BlockStructure>
        <BlockStructure Name="DUP"><Area Data="second area"/><Message Data="second message"/>
          <Area Data="second area, later"/></BlockStructure>
        <BlockStructure Name="O'BRIEN"><Area Data="apostrophe"/></BlockStructure>
        <BlockStructure Name='SAY "HI"'><Message Data="quotes"/></BlockStructure>
        <BlockStructure Name="IT'S &quot;BOTH&quot;"><Area Data="both"/></BlockStructure>
        <BlockStructure Name="A&amp;B&lt;C&gt;"><Area Data="markup"/></BlockStructure>
        <BlockStructure Name="EMPTY"/>
        <BlockStructure Name="OTHERNS"><o:Area Data="not ours"/></BlockStructure>
        <BlockStructure Name="EQ">
          <EmbeddedBlock Reference="EQ.M'1"><Area Data="embedded one"/></EmbeddedBlock>
          <EmbeddedBlock Reference="EQ.M'1"><Area Data="embedded one again"/><Message Data="m"/></EmbeddedBlock>
          <EmbeddedBlock Reference="DUP"><Area Data="embedded named like a structure"/></EmbeddedBlock>
          <Wrapper><EmbeddedBlock Reference="DEEP"><Area Data="not on the path"/></EmbeddedBlock></Wrapper>
        </BlockStructure>
        <BlockStructure Name="LATER">
          <EmbeddedBlock Reference="EQ.M'1"><Message Data="later message"/></EmbeddedBlock>
        </BlockStructure>
      </BlockStructures>
    </RaltoConfigExtension>
  </Producer>
  <Producer><RaltoConfigExtension><BlockStructures>
    <BlockStructure Name="SECONDPRODUCER"><Area Data="second producer"/></BlockStructure>
    <BlockStructure Name="DUP"><Area Data="third area"/></BlockStructure>
  </BlockStructures></RaltoConfigExtension></Producer>
</ProducedData>)");
}

}  // namespace
