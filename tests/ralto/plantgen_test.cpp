// plantgen: generated plants satisfy the import, are reproducible, and its
// edits change exactly what they say.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "plant_reader.h"
#include "ralto/config_server.h"
#include "run_program.h"

namespace fs = std::filesystem;

namespace {

std::string TempDir(const std::string& name) {
  return (fs::temp_directory_path() / name).string();
}

int Plantgen(const std::string& arguments) {
  return RunProgram(ShellQuote(PYTHON3) + " " + ShellQuote(PLANTGEN_SCRIPT) + " " + arguments);
}

std::map<std::string, std::string> Files(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    files[entry.path().filename().string()] = text.str();
  }
  return files;
}

// Alarm blocks of a producer: block name -> normalised area of its .AS.
std::map<std::string, std::string> BlockAreas(const PlantProducer& producer) {
  std::map<std::string, std::string> blocks;
  for (const auto& v : producer.variables)
    if (v.suffix == ".AS") blocks[v.block] = v.area;
  return blocks;
}

TEST(Plantgen, SameSeedGivesSameDocumentsOtherSeedOthers) {
  std::string a = TempDir("a"), b = TempDir("b"), c = TempDir("c");
  ASSERT_EQ(Plantgen("--producers 3 --blocks 120 --seed 42 " + a), 0);
  ASSERT_EQ(Plantgen("--producers 3 --blocks 120 --seed 42 " + b), 0);
  ASSERT_EQ(Plantgen("--producers 3 --blocks 120 --seed 43 " + c), 0);
  auto filesA = Files(a);
  EXPECT_EQ(filesA.size(), 4u);
  EXPECT_EQ(filesA, Files(b));
  EXPECT_NE(filesA.at("ProducedData_2.xml"), Files(c).at("ProducedData_2.xml"));
}

TEST(Plantgen, GeneratedPlantSatisfiesTheImport) {
  std::string dir = TempDir("plant");
  ASSERT_EQ(Plantgen("--producers 4 --blocks 150 --seed 7 " + dir), 0);
  CPlantReader plant;
  ASSERT_TRUE(plant.Load(dir)) << plant.error();
  ASSERT_EQ(plant.producers().size(), 4u);
  EXPECT_EQ(plant.nodeCount(), 5);  // and an operator station that only consumes
  std::set<std::string> nodes;
  int normalised = 0, embedded = 0;
  for (const auto& p : plant.producers()) {
    EXPECT_TRUE(nodes.insert(p.name).second);
    EXPECT_TRUE(p.hasConfigTime);
    EXPECT_EQ(BlockAreas(p).size(), 150u) << p.name;
    for (const auto& v : p.variables) {
      if (v.suffix != ".AS" && v.suffix != ".RS") continue;
      EXPECT_TRUE(v.areaOrMessageFound) << v.name;
      EXPECT_FALSE(v.area.empty()) << v.name;
      EXPECT_FALSE(v.message.empty()) << v.name;
      if (v.suffix == ".RS") {
        EXPECT_FALSE(v.rocMessage.empty()) << v.name;
      }
      const std::string& raw = v.rawArea;
      normalised += raw.starts_with('/') || raw.ends_with('/') || raw.find("//") != std::string::npos;
      embedded += v.block.find('.') != std::string::npos;
    }
  }
  EXPECT_GT(normalised, 0);
  EXPECT_GT(embedded, 0);
}

TEST(Plantgen, DigitalShareChoosesTheBlockTypes) {
  std::string analog = TempDir("analog"), digital = TempDir("digital");
  ASSERT_EQ(Plantgen("--producers 1 --blocks 60 --digital-share 0 --embedded-share 0 " + analog), 0);
  ASSERT_EQ(Plantgen("--producers 1 --blocks 60 --digital-share 1 --embedded-share 0 " + digital), 0);
  CPlantReader a, d;
  ASSERT_TRUE(a.Load(analog)) << a.error();
  ASSERT_TRUE(d.Load(digital)) << d.error();
  for (const auto& v : a.producers()[0].variables) EXPECT_EQ(v.blockType, "O0C") << v.name;
  for (const auto& v : d.producers()[0].variables) EXPECT_EQ(v.blockType, "O0D") << v.name;
}

TEST(Plantgen, EditChangesOneProducerAsAsked) {
  std::string dir = TempDir("edited");
  ASSERT_EQ(Plantgen("--producers 3 --blocks 80 --embedded-share 0 --seed 3 " + dir), 0);
  CPlantReader before;
  ASSERT_TRUE(before.Load(dir)) << before.error();
  auto filesBefore = Files(dir);

  ASSERT_EQ(Plantgen("--edit --producer 2 --add-blocks 5 --remove-blocks 3 --rename-areas 4 "
                     "--seed 3 " + dir), 0);
  CPlantReader after;
  ASSERT_TRUE(after.Load(dir)) << after.error();
  auto filesAfter = Files(dir);
  EXPECT_EQ(filesAfter.count(kRaltoEditLockFileName), 0u) << "the edit lock is gone";
  EXPECT_EQ(filesAfter.at("ProducedData_1.xml"), filesBefore.at("ProducedData_1.xml"));
  EXPECT_EQ(filesAfter.at("ProducedData_3.xml"), filesBefore.at("ProducedData_3.xml"));

  const PlantProducer& old = before.producers()[1];
  const PlantProducer& now = after.producers()[1];
  EXPECT_EQ(now.configTimeSecs, old.configTimeSecs + 1);
  EXPECT_EQ(now.configTimeNSecs, old.configTimeNSecs);
  auto oldBlocks = BlockAreas(old), newBlocks = BlockAreas(now);
  int removed = 0, added = 0, moved = 0;
  for (const auto& [block, area] : oldBlocks) {
    auto it = newBlocks.find(block);
    if (it == newBlocks.end()) ++removed;
    else moved += it->second != area;
  }
  for (const auto& [block, area] : newBlocks) added += oldBlocks.count(block) == 0;
  EXPECT_EQ(removed, 3);
  EXPECT_EQ(added, 5);
  EXPECT_EQ(moved, 4);

  // An edit without changes only moves the configuration time on.
  auto edited = Files(dir).at("ProducedData_2.xml");
  ASSERT_EQ(Plantgen("--edit --producer 2 " + dir), 0);
  CPlantReader touched;
  ASSERT_TRUE(touched.Load(dir)) << touched.error();
  EXPECT_EQ(touched.producers()[1].configTimeSecs, now.configTimeSecs + 1);
  EXPECT_EQ(BlockAreas(touched.producers()[1]), newBlocks);
}

TEST(Plantgen, BadRequestsFailWithTheirExitCodes) {
  std::string dir = TempDir("bad");
  EXPECT_EQ(Plantgen(dir), 2);                                        // no size
  EXPECT_EQ(Plantgen("--producers 2 --blocks -1 " + dir), 2);
  EXPECT_EQ(Plantgen("--producers 2 --blocks 5 --digital-share 2 " + dir), 2);
  EXPECT_EQ(Plantgen("--edit --producer 1 --producers 2 " + dir), 2);
  EXPECT_EQ(Plantgen("--edit --producer 1 " + dir), 1);              // nothing to edit
  ASSERT_EQ(Plantgen("--producers 1 --blocks 5 " + dir), 0);
  EXPECT_EQ(Plantgen("--edit --producer 9 " + dir), 1);
}

}  // namespace
