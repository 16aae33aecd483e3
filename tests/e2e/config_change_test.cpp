// The plant's configuration documents change under a running server, as an
// engineer changes them (plantgen --edit, and by hand): blocks added,
// removed and moved to another area, documents broken and mended. The
// server's sources follow the documents at the next binding period (they
// are what aeconfig builds from the same documents), an area the operator
// disabled stays disabled for the sources that come into it, and the
// server goes on serving throughout.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "alarm_views.h"
#include "event_recorder.h"
#include "process_fixture.h"
#include "tests/support/eventually.h"

namespace {

using namespace std::chrono_literals;

constexpr char kDisabledArea[] = "Reactor_Area";
// TANKFARM's LIC101, moved by hand into the disabled area.
constexpr char kMovedFrom[] = "Tank_Farm/T-101/TANKFARM_LIC101.A";
constexpr char kMovedTo[] = "Reactor_Area/Moved_In/TANKFARM_LIC101.A";
// A block added by hand to REACTOR, in the disabled area.
constexpr char kAdded[] = "Reactor_Area/R-301/REACTOR_LI399.A";
constexpr char kAddedBlock[] =
    "        <BlockStructure Name=\"LI399\" Description=\"R-301 spare level\">\n"
    "          <BlockSubElement Name=\"LI399.AS\" BlockType=\"O0C\"/>\n"
    "          <BlockSubElement Name=\"LI399.LP\" BlockType=\"O0C\" InitValue=\"1,2,2,1,3,3\"/>\n"
    "          <BlockSubElement Name=\"LI399.FC\" BlockType=\"O0C\"/>\n"
    "          <BlockSubElement Name=\"LI399.PI\" BlockType=\"O0C\"/>\n"
    "          <Area Data=\"Reactor Area/R-301\"/>\n"
    "          <Message Data=\"R-301 spare level %VAL % %STATE\"/>\n"
    "        </BlockStructure>\n";

// A block added by hand to UTILITY.
constexpr char kUtilityAdded[] = "Utilities/UTILITY_TI799.A";
constexpr char kUtilityBlock[] =
    "        <BlockStructure Name=\"TI799\" Description=\"spare temperature\">\n"
    "          <BlockSubElement Name=\"TI799.AS\" BlockType=\"O0C\"/>\n"
    "          <BlockSubElement Name=\"TI799.LP\" BlockType=\"O0C\" InitValue=\"3,4,4,3,5,5\"/>\n"
    "          <BlockSubElement Name=\"TI799.FC\" BlockType=\"O0C\"/>\n"
    "          <BlockSubElement Name=\"TI799.PI\" BlockType=\"O0C\"/>\n"
    "          <Area Data=\"Utilities\"/>\n"
    "          <Message Data=\"Spare temperature %VAL degC %STATE\"/>\n"
    "        </BlockStructure>\n";

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Replaced whole, as the documents say files must be.
void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path + ".new", std::ios::binary) << text;
  std::filesystem::rename(path + ".new", path);
}

std::string Lines(const std::set<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += "\n  " + n;
  return text;
}

class ConfigChangeTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    ServerSettings settings;
    settings.bindingRateMs = 200;
    Configure(settings);
    ASSERT_NO_FATAL_FAILURE(StartServer());
    recorder_ = std::make_unique<CEventRecorder>();
    ASSERT_TRUE(recorder_->WaitSubscribed()) << recorder_->Error();
    client_ = Client();
    ASSERT_TRUE(client_);
  }
  void TearDown() override {
    client_.reset();
    ProcessTest::TearDown();
    recorder_.reset();
  }

  std::string Document(int producer) { return plantDir_ + "/ProducedData_" + std::to_string(producer) + ".xml"; }
  // Replaces the first `from` by `to` in a producer's document and moves
  // its configuration time on, as an engineer's tool does.
  void Edit(int producer, const std::string& from, const std::string& to) {
    std::string text = ReadText(Document(producer));
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    MoveTimeOn(text);
    WriteText(Document(producer), text);
  }
  static void MoveTimeOn(std::string& text) {
    const std::string key = "ConfigTimeSecs=\"";
    size_t at = text.find(key) + key.size();
    size_t end = text.find('"', at);
    text.replace(at, end - at, std::to_string(std::stoll(text.substr(at, end - at)) + 1));
  }

  // Every source of the server, qualified, from its area browser; false
  // when an area went while it was being browsed (the import runs).
  bool ServedSources(std::set<std::string>& sources) {
    sources.clear();
    std::vector<std::string> areas{""};
    while (!areas.empty()) {
      std::string area = areas.back();
      areas.pop_back();
      std::vector<std::string> names;
      // S_FALSE: nothing there.
      if (FAILED(client_->Browse(area, OPC_SOURCE, "", &names))) return false;
      for (const std::string& name : names) {
        std::string qualified;
        if (FAILED(client_->GetQualifiedSourceName(area, name, &qualified))) return false;
        sources.insert(qualified);
      }
      names.clear();
      if (FAILED(client_->Browse(area, OPC_AREA, "", &names))) return false;
      for (const std::string& name : names) areas.push_back(area.empty() ? name : area + "/" + name);
    }
    return true;
  }
  std::set<std::string> ServedSources() {
    std::set<std::string> sources;
    EXPECT_TRUE(Eventually([&] { return ServedSources(sources); })) << client_->LastError();
    return sources;
  }
  // What the documents give, as aeconfig builds it (with the window hidden,
  // as this server runs: a document that does not load is skipped).
  std::set<std::string> DocumentSources() {
    ProgramResult r = Tool("aeconfig", {"check", "--hidden", plantDir_});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> sources;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      size_t tab = line.find('\t');
      if (tab != std::string::npos) sources.insert(line.substr(0, tab));  // not the summary lines
    }
    return sources;
  }
  // The server's sources become `expected` within a few binding periods.
  void ExpectSources(const std::set<std::string>& expected) {
    std::set<std::string> served;
    bool same = Eventually([&] { return ServedSources(served) && served == expected; }, 30s);
    EXPECT_TRUE(same) << "served:" << Lines(served) << "\nexpected:" << Lines(expected);
  }
  bool EffectivelyEnabled(const std::string& name, bool isArea) {
    std::vector<bool> own, effective;
    std::vector<HRESULT> errors;
    EXPECT_EQ(client_->GetEnableState(isArea, {name}, &own, &effective, &errors), S_OK) << client_->LastError();
    return !effective.empty() && effective[0] && errors[0] == S_OK;
  }
  void ExpectServing() {
    EXPECT_FALSE(server_->Ended()) << server_->Errors();
    OPCEVENTSERVERSTATUS status;
    EXPECT_EQ(client_->GetStatus(&status), S_OK) << client_->LastError();
    EXPECT_EQ(server_->LastStatusLine().rfind(std::string(kConnectedText) + " |", 0), 0u) << server_->LastStatusLine();
  }

  std::unique_ptr<CEventRecorder> recorder_;
  std::unique_ptr<CAEDBusClient> client_;
};

TEST_F(ConfigChangeTest, SourcesFollowTheDocumentsAndADisabledAreaStaysDisabled) {
  ExpectSources(DocumentSources());
  ASSERT_EQ(client_->ChangeEnabled(false, true, {kDisabledArea}), S_OK) << client_->LastError();

  // An engineer's edit of TANKFARM: blocks removed, added, moved.
  std::set<std::string> before = ServedSources();
  ProgramResult edit = Tool("plantgen", {"--edit", "--producer", "1", "--add-blocks", "2", "--remove-blocks", "2",
                                         "--rename-areas", "2", plantDir_});
  ASSERT_EQ(edit.exitCode, 0) << edit.err;
  std::set<std::string> expected = DocumentSources();
  ASSERT_NE(before, expected) << "the edit changed nothing";
  ExpectSources(expected);

  // A block moved into the disabled area, another added there: both come
  // up disabled, as the operator left the area.
  ASSERT_NO_FATAL_FAILURE(Edit(1, "<Area Data=\"Tank Farm/T-101\"/>", "<Area Data=\"Reactor Area/Moved In\"/>"));
  ASSERT_NO_FATAL_FAILURE(Edit(3, "        <BlockStructure Name=\"TI302\"", std::string(kAddedBlock) +
                                                                               "        <BlockStructure Name=\"TI302\""));
  expected = DocumentSources();
  ASSERT_TRUE(expected.count(kMovedTo) && expected.count(kAdded) && !expected.count(kMovedFrom));
  ExpectSources(expected);
  EXPECT_FALSE(EffectivelyEnabled(kDisabledArea, true));
  EXPECT_FALSE(EffectivelyEnabled(kMovedTo, false));
  EXPECT_FALSE(EffectivelyEnabled(kAdded, false));
  // Its alarm raises no event while the area is off.
  size_t from = recorder_->Count();
  ASSERT_EQ(Tool("ralto-sim", {"set", "REACTOR.LI399", "hihi"}).exitCode, 0);
  ASSERT_EQ(Tool("ralto-sim", {"set", "TANKFARM.LSHH101", "alarm"}).exitCode, 0);
  ASSERT_TRUE(recorder_->Await([](const ONEVENTSTRUCT& e) { return SourceTail(e.szSource) == "TANKFARM_LSHH101.Bit"; },
                               from))
      << "an alarm elsewhere shows";
  std::vector<ONEVENTSTRUCT> events;
  ASSERT_TRUE(RefreshEvents(events, nullptr));
  for (const ONEVENTSTRUCT& e : events) EXPECT_NE(e.szSource, kAdded) << "an event of a disabled source";

  // A document broken: its producer keeps the sources it had, the others'
  // changes still come in (a block added to UTILITY shows that a binding
  // period has gone over the broken document).
  const std::string compress = ReadText(Document(4));
  WriteText(Document(4), compress.substr(0, compress.size() / 2));
  ASSERT_NO_FATAL_FAILURE(Edit(7, "        <BlockStructure Name=", std::string(kUtilityBlock) + "        <BlockStructure Name="));
  std::set<std::string> withBroken = DocumentSources();
  ASSERT_TRUE(withBroken.count(kUtilityAdded));
  for (const std::string& source : expected) {
    if (SourceTail(source).rfind("COMPRESS_", 0) == 0) withBroken.insert(source);
  }
  ExpectSources(withBroken);
  ExpectServing();

  // The summary broken for a while (a few binding periods): the server
  // serves on, its alarms with it, and once the documents are mended it
  // has what they say.
  const std::string summaryPath = plantDir_ + "/ConfigurationSummary.xml";
  const std::string summary = ReadText(summaryPath);
  WriteText(summaryPath, "<ConfigurationSummary xmlns=\"urn:ralto:config:1.0\"><NodeSummary");
  from = recorder_->Count();
  ASSERT_EQ(Tool("ralto-sim", {"set", "TANKFARM.LIC102", "hihi"}).exitCode, 0);
  std::this_thread::sleep_for(1s);  // how long the fault lasts, not a proof
  ExpectServing();
  EXPECT_TRUE(recorder_->Await(
      [](const ONEVENTSTRUCT& e) {
        return SourceTail(e.szSource) == "TANKFARM_LIC102.A" && (e.wNewState & OPC_CONDITION_ACTIVE) &&
               e.szSubconditionName == "HiHi";
      },
      from)) << "the alarm that came while the summary was broken";
  WriteText(summaryPath, summary);
  std::string mended = compress;
  MoveTimeOn(mended);
  WriteText(Document(4), mended);
  ExpectSources(DocumentSources());
  ExpectServing();

  // The area is still off; on again, its sources are on.
  EXPECT_FALSE(EffectivelyEnabled(kAdded, false));
  ASSERT_EQ(client_->ChangeEnabled(true, true, {kDisabledArea}), S_OK);
  EXPECT_TRUE(EffectivelyEnabled(kMovedTo, false));
  EXPECT_TRUE(EffectivelyEnabled(kAdded, false));
  from = recorder_->Count();
  ASSERT_EQ(Tool("ralto-sim", {"set", "REACTOR.LI399", "lolo"}).exitCode, 0);
  EXPECT_TRUE(recorder_->Await(
      [](const ONEVENTSTRUCT& e) {
        return e.szSource == kAdded && (e.wNewState & OPC_CONDITION_ACTIVE) && e.szSubconditionName == "LoLo";
      },
      from));
}

}  // namespace
