// The bundled example plant against what aeserver's import and the Ralto
// OPC DA stand-in need from it.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "plant_reader.h"

namespace {

class ExamplePlant : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(plant_.Load(RALTO_EXAMPLE_PLANT_DIR)) << plant_.error(); }

  // Members of every block: (node, block) -> variables.
  std::map<std::pair<std::string, std::string>, std::vector<const PlantVariable*>> Blocks() const {
    std::map<std::pair<std::string, std::string>, std::vector<const PlantVariable*>> blocks;
    for (const auto& p : plant_.producers())
      for (const auto& v : p.variables) blocks[{p.name, v.block}].push_back(&v);
    return blocks;
  }

  CPlantReader plant_;
};

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
  return parts;
}

bool HasSuffix(const std::vector<const PlantVariable*>& members, const std::string& suffix) {
  for (const auto* v : members)
    if (v->suffix == suffix) return true;
  return false;
}

TEST_F(ExamplePlant, SummaryNamesProducersWithTimedDocuments) {
  ASSERT_GE(plant_.producers().size(), 3u);
  // A node without a ProducedData document is not a producer.
  EXPECT_GT(plant_.nodeCount(), static_cast<int>(plant_.producers().size()));
  std::set<uint32_t> ids;
  std::set<std::string> names;
  for (const auto& p : plant_.producers()) {
    EXPECT_TRUE(ids.insert(p.id).second) << "duplicate ProducerId " << p.id;
    EXPECT_TRUE(names.insert(p.name).second) << "duplicate node " << p.name;
    EXPECT_EQ(p.name.find('.'), std::string::npos) << "a dot in a node name splits item ids";
    EXPECT_TRUE(p.hasConfigTime) << p.name;
    EXPECT_LT(p.configTimeNSecs, 1000000000u) << p.name;
    EXPECT_EQ(p.producerName, p.name);
    EXPECT_FALSE(p.variables.empty()) << p.name;
  }
}

TEST_F(ExamplePlant, BlocksAreCompleteAlarmBlocksOfBothTypes) {
  auto blocks = Blocks();
  int analog = 0, digital = 0, rate = 0, embedded = 0;
  for (const auto& [key, members] : blocks) {
    const std::string& type = members.front()->blockType;
    for (const auto* v : members) {
      EXPECT_EQ(v->blockType, type) << key.second << ": one block, one type";
      EXPECT_EQ(v->name, v->block + v->suffix) << "members are named block + suffix";
    }
    SCOPED_TRACE(key.first + "." + key.second);
    EXPECT_TRUE(HasSuffix(members, ".AS"));
    EXPECT_TRUE(HasSuffix(members, ".LP"));
    EXPECT_TRUE(HasSuffix(members, ".FC"));
    if (type == "O0C") {
      ++analog;
      rate += HasSuffix(members, ".RS");
    } else {
      ++digital;
      EXPECT_FALSE(HasSuffix(members, ".RS")) << "a digital block has no rate-of-change alarm";
    }
    embedded += key.second.find('.') != std::string::npos;
  }
  EXPECT_GE(analog + digital, 40);
  EXPECT_GE(analog, 10);
  EXPECT_GE(digital, 10);
  EXPECT_GE(rate, 5);
  EXPECT_GE(embedded, 5);
}

TEST_F(ExamplePlant, PriorityCodesAreWrittenAsTheImportReadsThem) {
  int six = 0, one = 0, outOfRange = 0, ignored = 0;
  for (const auto& p : plant_.producers())
    for (const auto& v : p.variables) {
      if (v.suffix != ".LP" || v.initValue.empty()) continue;
      auto parts = Split(v.initValue);
      for (const auto& part : parts) {
        ASSERT_FALSE(part.empty()) << v.name;
        int code = std::stoi(part);
        outOfRange += code < 0 || code > 5;
      }
      size_t wanted = v.blockType == "O0C" ? 6 : 1;
      if (parts.size() != wanted) ++ignored;
      else if (wanted == 6) ++six;
      else ++one;
    }
  EXPECT_GE(six, 20);
  EXPECT_GE(one, 10);
  // The example shows what engineers get wrong, and the documentation explains it.
  EXPECT_GE(outOfRange, 2);
  EXPECT_EQ(ignored, 1);
}

TEST_F(ExamplePlant, EveryAlarmFindsItsMessageAndArea) {
  int fromEmbedded = 0, withoutArea = 0;
  for (const auto& p : plant_.producers())
    for (const auto& v : p.variables) {
      if (v.suffix != ".AS" && v.suffix != ".RS") continue;
      SCOPED_TRACE(p.name + "." + v.name);
      EXPECT_TRUE(v.areaOrMessageFound);
      EXPECT_FALSE(v.message.empty());
      if (v.suffix == ".RS") {
        EXPECT_FALSE(v.rocMessage.empty());
      }
      withoutArea += v.area.empty();
      fromEmbedded += v.block.find('.') != std::string::npos;
    }
  EXPECT_GE(fromEmbedded, 5);
  EXPECT_EQ(withoutArea, 1);  // FIC202 sits at the root of the area tree
}

TEST_F(ExamplePlant, AreasShowEveryNormalisation) {
  std::set<std::string> kinds;
  for (const auto& p : plant_.producers())
    for (const auto& v : p.variables) {
      const std::string& a = v.rawArea;
      if (a.starts_with('/')) kinds.insert("leading slash");
      if (a.ends_with('/')) kinds.insert("trailing slash");
      if (a.find("//") != std::string::npos) kinds.insert("double slash");
      if (a.find(' ') != std::string::npos) kinds.insert("blank");
      if (a.ends_with(' ')) kinds.insert("trailing blank");
      if (a.find(" / ") != std::string::npos) kinds.insert("blanks around slash");
    }
  EXPECT_EQ(kinds.size(), 6u);
}

// A message's %VAL is read from the block's "PI" (analog) or "ST" (digital)
// member, which must therefore be published.
TEST_F(ExamplePlant, MessagesWithValueHaveTheirValueMember) {
  int lowerCase = 0, value = 0, state = 0;
  auto blocks = Blocks();
  for (const auto& [key, members] : blocks)
    for (const auto* v : members) {
      for (const std::string* text : {&v->message, &v->rocMessage}) {
        std::string upper = *text;
        for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        bool hasValue = upper.find("%VAL") != std::string::npos;
        value += hasValue;
        state += upper.find("%STATE") != std::string::npos;
        lowerCase += text->find("%val") != std::string::npos ||
                     text->find("%state") != std::string::npos ||
                     text->find("%State") != std::string::npos;
        if (hasValue) {
          EXPECT_TRUE(HasSuffix(members, v->blockType == "O0C" ? ".PI" : ".ST"))
              << key.first << "." << key.second;
        }
      }
    }
  EXPECT_GE(value, 30);
  EXPECT_GE(state, 30);
  EXPECT_GE(lowerCase, 2);
}

// Source names: [area "/"] node "_" block (dots as "_") "." kind suffix.
TEST_F(ExamplePlant, SourceNamesAreUnique) {
  std::set<std::string> sources;
  for (const auto& p : plant_.producers())
    for (const auto& v : p.variables) {
      if (v.suffix != ".AS" && v.suffix != ".RS") continue;
      std::string block = v.block;
      for (char& c : block)
        if (c == '.') c = '_';
      std::string kind = v.suffix == ".RS" ? "ROC" : v.blockType == "O0D" ? "Bit" : "A";
      std::string name = (v.area.empty() ? "" : v.area + "/") + p.name + "_" + block + "." + kind;
      EXPECT_TRUE(sources.insert(name).second) << name;
    }
  EXPECT_GE(sources.size(), 55u);
}

}  // namespace
