// aeconfig check: the program run on the example plant and on broken
// plants, as a plant engineer runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct CheckRun {
  int status = -1;
  std::vector<std::string> lines;  // stdout
  std::string errors;              // stderr
};

CheckRun Check(const std::string& arguments) {
  fs::path err = fs::temp_directory_path() / "aeconfig.err";
  std::string command = std::string(AECONFIG_PROGRAM) + " " + arguments + " 2>'" + err.string() + "'";
  CheckRun run;
  FILE* out = popen(command.c_str(), "r");
  if (!out) return run;
  std::string line;
  for (int c; (c = std::fgetc(out)) != EOF;) {
    if (c == '\n') {
      run.lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  int status = pclose(out);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err);
  std::stringstream text;
  text << in.rdbuf();
  run.errors = text.str();
  return run;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
  return fields;
}

fs::path CopyOfExamplePlant() {
  fs::path dir = fs::temp_directory_path() / "plant";
  fs::create_directories(dir);
  for (const auto& entry : fs::directory_iterator(AE_EXAMPLE_PLANT_DIR))
    if (entry.path().extension() == ".xml") fs::copy_file(entry.path(), dir / entry.path().filename());
  return dir;
}

TEST(AeconfigCheck, ListsEverySourceOfTheExamplePlant) {
  CheckRun run = Check("check '" + std::string(AE_EXAMPLE_PLANT_DIR) + "'");
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_GE(run.lines.size(), 3u);
  EXPECT_EQ(run.lines.back(), "result: 0x00000000 S_OK");
  size_t sources = run.lines.size() - 2;
  EXPECT_EQ(run.lines[sources], "sources: " + std::to_string(sources));
  EXPECT_EQ(sources, 59u);
  std::set<std::string> names;
  for (size_t i = 0; i < sources; ++i) {
    std::vector<std::string> f = Fields(run.lines[i]);
    ASSERT_EQ(f.size(), 5u) << run.lines[i];
    names.insert(f[0]);
    if (i > 0) {
      EXPECT_LT(run.lines[i - 1], run.lines[i]);
    }
  }
  EXPECT_TRUE(names.count("Tank_Farm/T-101/TANKFARM_LIC101.A"));
  EXPECT_TRUE(names.count("PUMPSTN_FIC202.A"));  // a block without an area
  for (size_t i = 0; i < sources; ++i) {
    std::vector<std::string> f = Fields(run.lines[i]);
    if (f[0] == "Tank_Farm/T-101/TANKFARM_LIC101.ROC") {
      EXPECT_EQ(f[1], "RoC");
      EXPECT_EQ(f[2], "Tank_Farm/T-101");
      EXPECT_EQ(f[3], "RoCU=600,RoCD=600");
      EXPECT_EQ(f[4], "T-101 level changing fast, now %VAL %: %STATE");
    }
    if (f[0] == "Tank_Farm/T-101/TANKFARM_LSHH101.Bit") {
      EXPECT_EQ(f[3], "Bit=900");
    }
  }
}

TEST(AeconfigCheck, ABrokenDocumentEndsTheCheckUnlessHidden) {
  fs::path dir = CopyOfExamplePlant();
  std::ofstream(dir / "ProducedData_3.xml") << "<ProducedData xmlns='urn:ralto:config:1.0'><Producer>";
  CheckRun run = Check("check '" + dir.string() + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.lines.back().rfind("result: 0xC00C", 0), 0u) << run.lines.back();
  EXPECT_NE(run.errors.find("Error parsing ProducedData.xml file from Ralto configuration server: \n  line 1"),
            std::string::npos)
      << run.errors;

  CheckRun hidden = Check("check --hidden '" + dir.string() + "'");
  EXPECT_EQ(hidden.status, 0);
  EXPECT_EQ(hidden.lines.back(), "result: 0x00000000 S_OK");
  EXPECT_TRUE(hidden.errors.empty()) << hidden.errors;
  for (const std::string& line : hidden.lines) EXPECT_EQ(line.find("REACTOR_"), std::string::npos) << line;
}

TEST(AeconfigCheck, MissingDocumentsAndBadArguments) {
  fs::path empty = fs::temp_directory_path() / "empty";
  fs::create_directories(empty);
  CheckRun run = Check("check '" + empty.string() + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.lines, (std::vector<std::string>{"sources: 0", "result: 0xC18107DB RALTO_E_DOCUMENT_NOT_FOUND"}));

  EXPECT_EQ(Check("check /nonexistent/plant").status, 1);
  EXPECT_EQ(Check("").status, 2);
  EXPECT_EQ(Check("check").status, 2);
  EXPECT_EQ(Check("verify '" + empty.string() + "'").status, 2);
  EXPECT_EQ(Check("check a b").status, 2);
  EXPECT_EQ(Check("check --loud a").status, 2);
}

TEST(AeconfigCheck, FieldsWithTabsAndNewlinesStayOnOneLine) {
  fs::path dir = fs::temp_directory_path() / "odd";
  fs::create_directories(dir);
  std::ofstream(dir / "ConfigurationSummary.xml")
      << "<ConfigurationSummary xmlns='urn:ralto:config:1.0'><NodeSummary Name='N' ProducerId='1'>"
         "<Document DocType='ProducedData'/></NodeSummary></ConfigurationSummary>";
  std::ofstream(dir / "ProducedData_1.xml")
      << "<ProducedData xmlns='urn:ralto:config:1.0'><Producer ConfigTimeSecs='1' ConfigTimeNSecs='1'>"
         "<RaltoConfigExtension><BlockStructures><BlockStructure Name='B'>"
         "<BlockSubElement Name='B.AS' BlockType='O0D'/><Message Data='tab&#9;newline&#10;back\\slash'/>"
         "</BlockStructure></BlockStructures></RaltoConfigExtension></Producer></ProducedData>";
  CheckRun run = Check("check '" + dir.string() + "'");
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.lines.size(), 3u);
  EXPECT_EQ(run.lines[0], "N_B.Bit\tBit\t\tBit=1000\ttab\\tnewline\\nback\\\\slash");
}

}  // namespace
