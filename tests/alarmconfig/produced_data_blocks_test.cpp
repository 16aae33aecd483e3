// The one-pass reading of a ProducedData document answers exactly what the
// import's selections answer (its alarm members, and each block's Area and
// Message): compared with those selections, run with safely quoted names,
// on the example plant, a generated plant and documents full of the awkward
// cases.
#include "alarmconfig/produced_data_blocks.h"

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
  CProducedDataBlocks index(doc);
  const std::string base = kStructures;
  std::vector<CXmlNode> members, selected;
  for (const BlockMember& m : index.Members()) {
    members.push_back(m.element);
    std::string value;
    EXPECT_EQ(m.hasName, m.element.GetAttribute("Name", value));
    EXPECT_EQ(m.name, value);
    m.element.GetAttribute("BlockType", value);
    EXPECT_EQ(m.blockType, value);
  }
  for (const CXmlNode& n : doc.SelectNodes(base + "/QQQ:BlockSubElement[(@BlockType='O0C') or (@BlockType='O0D')]"))
    selected.push_back(n);
  EXPECT_EQ(members, selected);
  for (const std::string& block : NamesIn(doc)) {
    std::string b = XPathStringLiteral(block);
    EXPECT_EQ(index.Structure(block).area, doc.SelectSingleNode(base + "[@Name=" + b + "]/QQQ:Area"))
        << block;
    EXPECT_EQ(index.Structure(block).message,
              doc.SelectSingleNode(base + "[@Name=" + b + "]/QQQ:Message"))
        << block;
    EXPECT_EQ(index.Embedded(block).area,
              doc.SelectSingleNode(base + "/QQQ:EmbeddedBlock[@Reference=" + b + "]/QQQ:Area"))
        << block;
    EXPECT_EQ(index.Embedded(block).message,
              doc.SelectSingleNode(base + "/QQQ:EmbeddedBlock[@Reference=" + b + "]/QQQ:Message"))
        << block;
  }
}

TEST(ProducedDataBlocks, MatchesTheSelectionsOnTheExamplePlant) {
  for (const auto& entry : fs::directory_iterator(AE_EXAMPLE_PLANT_DIR)) {
    if (entry.path().filename().string().rfind("ProducedData_", 0) != 0) continue;
    SCOPED_TRACE(entry.path().string());
    ExpectIndexMatchesSelections(ReadFile(entry.path()));
  }
}

TEST(ProducedDataBlocks, MatchesTheSelectionsOnAGeneratedPlant) {
  fs::path dir = fs::temp_directory_path() / "generated";
  std::string command = std::string(PYTHON3) + " " + PLANTGEN_SCRIPT +
                        " --producers 1 --blocks 300 --embedded-share 0.3 --seed 7 '" + dir.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ExpectIndexMatchesSelections(ReadFile(dir / "ProducedData_1.xml"));
}

// First in document order, a later structure of the same name filling in
// what an earlier one lacks, elements outside the path or namespace, and
// names holding quotes and markup characters.
TEST(ProducedDataBlocks, MatchesTheSelectionsOnAwkwardDocuments) {
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
        <BlockStructure Name="TYPES"><BlockSubElement Name="T.AS" BlockType="O0D"/>
          <BlockSubElement Name="T.X" BlockType="o0c"/><BlockSubElement Name="T.Y"/>
          <BlockSubElement Name="T.Z" BlockType="O0C "/><o:BlockSubElement Name="T.W" BlockType="O0C"/>
          <BlockSubElement Name="T.V" o:BlockType="O0C"/><BlockSubElement Name="T.RS" BlockType="O0C"/></BlockStructure>
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
    <BlockStructure Name="DUP"><Area Data="third area"/><BlockSubElement Name="DUP.AS" BlockType="O0C"/></BlockStructure>
  </BlockStructures></RaltoConfigExtension></Producer>
  <Other><RaltoConfigExtension><BlockStructures><BlockStructure Name="OUTSIDE">
    <BlockSubElement Name="OUTSIDE.AS" BlockType="O0C"/><Area Data="outside"/></BlockStructure>
  </BlockStructures></RaltoConfigExtension></Other>
</ProducedData>)");
  // Another root element: nothing at all.
  ExpectIndexMatchesSelections(R"(<Other xmlns="urn:ralto:config:1.0"><Producer><RaltoConfigExtension>
    <BlockStructures><BlockStructure Name="X"><BlockSubElement Name="X.AS" BlockType="O0C"/><Area Data="a"/>
    </BlockStructure></BlockStructures></RaltoConfigExtension></Producer></Other>)");
}

}  // namespace
