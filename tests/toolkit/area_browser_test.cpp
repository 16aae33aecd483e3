// Area browsing over the source cache, and enabling/disabling conditions by
// area and by source.
#include <gtest/gtest.h>

#include <set>

#include "toolkit/server_callback.h"
#include "toolkit_fixture.h"

namespace {

class AreaBrowserTest : public ToolkitTest {
 protected:
  void SetUp() override {
    ToolkitTest::SetUp();
    AddLevelSource("Plant/Unit1/TIC100.A");
    AddLevelSource("Plant/Unit1/TIC101.A");
    AddLevelSource("Plant/Unit2/PIC200.A");
    AddLevelSource("Yard.A");
    server_ = Connect();
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(server_->CreateAreaBrowser(IID_IOPCEventAreaBrowser, unknown.Put()), S_OK);
    ASSERT_EQ(unknown.As(IID_IOPCEventAreaBrowser, browser_), S_OK);
  }
  void TearDown() override {
    g_ServerInterface.SetCallbackObject(nullptr);
    browser_.Reset();
    server_.Reset();
    ToolkitTest::TearDown();
  }
  std::vector<std::string> Browse(OPCAEBROWSETYPE type, const std::string& filter = "") {
    std::vector<std::string> names;
    EXPECT_TRUE(SUCCEEDED(browser_->BrowseOPCAreas(type, filter, &names)));
    return names;
  }

  ComPtr<IOPCEventServer> server_;
  ComPtr<IOPCEventAreaBrowser> browser_;
};

TEST_F(AreaBrowserTest, BrowsesAreasAndSourcesLevelByLevel) {
  EXPECT_EQ(Browse(OPC_AREA), std::vector<std::string>{"Plant"});
  EXPECT_EQ(Browse(OPC_SOURCE), std::vector<std::string>{"Yard.A"});
  ASSERT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_DOWN, "Plant"), S_OK);
  EXPECT_EQ(Browse(OPC_AREA), (std::vector<std::string>{"Unit1", "Unit2"}));
  EXPECT_EQ(Browse(OPC_AREA, "*2"), std::vector<std::string>{"Unit2"});
  std::vector<std::string> none;
  EXPECT_EQ(browser_->BrowseOPCAreas(OPC_SOURCE, "", &none), S_FALSE);
  EXPECT_EQ(browser_->BrowseOPCAreas(OPC_AREA, "[Z-A]", &none), E_INVALIDARG);

  std::string qualified;
  ASSERT_EQ(browser_->GetQualifiedAreaName("Unit1", &qualified), S_OK);
  EXPECT_EQ(qualified, "Plant/Unit1");
  std::string missing;
  EXPECT_EQ(browser_->GetQualifiedAreaName("Unit3", &missing), E_INVALIDARG);
  ASSERT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_TO, qualified), S_OK);
  EXPECT_EQ(Browse(OPC_SOURCE, "TIC1#1*"), std::vector<std::string>{"TIC101.A"});
  ASSERT_EQ(browser_->GetQualifiedSourceName("TIC100.A", &qualified), S_OK);
  EXPECT_EQ(qualified, "Plant/Unit1/TIC100.A");
  EXPECT_EQ(browser_->GetQualifiedSourceName("PIC200.A", &qualified), E_INVALIDARG);

  ASSERT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_UP, ""), S_OK);
  ASSERT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_UP, ""), S_OK);
  EXPECT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_UP, ""), E_FAIL);
  EXPECT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_DOWN, "Yard.A"), OPC_E_INVALIDBRANCHNAME);
  EXPECT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_TO, "Plant/Unit9"), OPC_E_INVALIDBRANCHNAME);
  EXPECT_EQ(Browse(OPC_AREA), std::vector<std::string>{"Plant"}) << "a failed move keeps the position";
}

TEST_F(AreaBrowserTest, BrowsersKeepTheirOwnPositions) {
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(server_->CreateAreaBrowser(IID_IOPCEventAreaBrowser, unknown.Put()), S_OK);
  ComPtr<IOPCEventAreaBrowser> other;
  ASSERT_EQ(unknown.As(IID_IOPCEventAreaBrowser, other), S_OK);
  ASSERT_EQ(browser_->ChangeBrowsePosition(OPCAE_BROWSE_TO, "Plant/Unit2"), S_OK);
  std::vector<std::string> names;
  ASSERT_EQ(other->BrowseOPCAreas(OPC_AREA, "", &names), S_OK);
  EXPECT_EQ(names, std::vector<std::string>{"Plant"});
}

TEST_F(AreaBrowserTest, DisabledAreasAndSourcesSendNothing) {
  struct Recorder : CAEServerCallback {
    std::vector<std::string> changes;
    BOOL AllowChangeConditionEnabled(const std::string& name, BOOL, BOOL) override { return name != "Yard.A"; }
    void OnChangeConditionEnabled(const std::string& name, BOOL isArea, BOOL enable) override {
      changes.push_back(name + (isArea ? " area " : " source ") + (enable ? "on" : "off"));
    }
  } recorder;
  g_ServerInterface.SetCallbackObject(&recorder);
  auto sink = RecordingEventSink::Make();
  auto subscription = Subscribe(server_.Get(), sink.Get());

  std::string plant = "Plant", unknown = "Nowhere", yard = "Yard.A", pic = "Plant/Unit2/PIC200.A";
  EXPECT_EQ(server_->DisableConditionByArea(1, &unknown), E_INVALIDARG);
  ASSERT_EQ(server_->DisableConditionByArea(1, &plant), S_OK);
  EXPECT_EQ(server_->DisableConditionBySource(1, &yard), S_FALSE) << "the callback refuses";
  ASSERT_TRUE(sink->WaitForEvents(3));  // one ENABLE_STATE event per condition disabled
  for (const auto& e : sink->Events()) {
    EXPECT_EQ(e.wChangeMask, OPC_CHANGE_ENABLE_STATE);
    EXPECT_EQ(e.wNewState & OPC_CONDITION_ENABLED, 0);
  }
  EXPECT_FALSE(Level("Plant/Unit1/TIC101.A")->Enabled());
  EXPECT_TRUE(Level("Yard.A")->Enabled());

  sink->Clear();
  Level("Plant/Unit1/TIC100.A")->Activate("Hi", "", true, nullptr);
  Level("Yard.A")->Activate("Hi", "", true, nullptr);
  ASSERT_TRUE(sink->WaitForEvents(1));
  // Enabling a source inside a disabled area leaves it disabled; enabling
  // the area brings back what is not disabled of its own.
  std::string tic = "Plant/Unit1/TIC100.A";
  ASSERT_EQ(server_->EnableConditionBySource(1, &pic), S_OK);
  ASSERT_EQ(server_->DisableConditionBySource(1, &tic), S_OK);
  EXPECT_FALSE(Level(pic)->Enabled());
  ASSERT_EQ(server_->EnableConditionByArea(1, &plant), S_OK);
  ASSERT_TRUE(sink->WaitForEvents(3));
  auto events = sink->Events();
  EXPECT_EQ(events[0].szSource, "Yard.A");
  std::set<std::string> enabled{events[1].szSource, events[2].szSource};
  EXPECT_EQ(enabled, (std::set<std::string>{"Plant/Unit1/TIC101.A", "Plant/Unit2/PIC200.A"}));
  EXPECT_EQ(events[1].wChangeMask, OPC_CHANGE_ENABLE_STATE);
  EXPECT_TRUE(Level("Plant/Unit1/TIC100.A")->Active()) << "state is kept while disabled";
  EXPECT_FALSE(Level("Plant/Unit1/TIC100.A")->Enabled());
  EXPECT_EQ(recorder.changes,
            (std::vector<std::string>{"Plant area off", "Plant/Unit2/PIC200.A source on",
                                      "Plant/Unit1/TIC100.A source off", "Plant area on"}));
  g_ServerInterface.SetCallbackObject(nullptr);
}

}  // namespace
