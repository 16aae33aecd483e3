// The configuration import on bad input and refused documents: the results
// and message boxes it gives, with the main window hidden and visible, and
// what it keeps of what it imported before.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "alarmconfig/config_import.h"
#include "import_fixture.h"
#include "platform/class_factory.h"
#include "platform/xml_document.h"
#include "ralto/config_control.h"
#include "toolkit/source_cache.h"

namespace {

using plantdoc::AnalogBlock;
using plantdoc::DigitalBlock;
using plantdoc::ProducedData;
using plantdoc::Summary;

constexpr MessageBoxIcon kExclamation = MessageBoxIcon::Exclamation;

class ImportFailure : public ImportTest {
 protected:
  void SetUp() override {
    ImportTest::SetUp();
    Write("ConfigurationSummary.xml", Summary({{"ONE", "1"}, {"TWO", "2"}, {"THREE", "3"}}));
    WriteProducer(1, "ONE");
    WriteProducer(2, "TWO");
    WriteProducer(3, "THREE");
  }
  void WriteProducer(int id, const std::string& node) {
    Write("ProducedData_" + std::to_string(id) + ".xml",
          ProducedData(node, "10", "20", AnalogBlock("A", "Area", "m", "r") + DigitalBlock("B", "Area", "b")));
  }
  bool Imported(const std::string& node) const { return store_.FindVariable(node + ".A.AS") != nullptr; }

  ComPtr<IRaltoConfigServerControl> Control() {
    ComPtr<IRaltoConfigServerControl> control;
    EXPECT_EQ(CoCreateInstance(CLSID_RaltoConfigServer, nullptr, CLSCTX_ALL, IID_IRaltoConfigServerControl,
                               control.PutVoid()),
              S_OK);
    return control;
  }

  CTestVarStore store_;
  CStoreEntrySupply supply_{store_};
};

TEST_F(ImportFailure, ProducedDataThatDoesNotParseIsSkippedWhileTheWindowIsHidden) {
  Write("ProducedData_2.xml", "<ProducedData xmlns='urn:ralto:config:1.0'><Producer>");
  EXPECT_EQ(Import(store_, false), S_OK);
  EXPECT_TRUE(Imported("ONE"));
  EXPECT_FALSE(Imported("TWO"));
  EXPECT_TRUE(Imported("THREE"));
  EXPECT_FALSE(store_.configTimeSecsMap.count(2));
  EXPECT_TRUE(messages_.boxes.empty());

  // Mended, it is read at the next import; the others are unchanged.
  WriteProducer(2, "TWO");
  EXPECT_EQ(Import(store_, true), S_OK);
  EXPECT_TRUE(Imported("TWO"));
  EXPECT_EQ(supply_.nodeRequests, (std::vector<std::string>{"ONE", "THREE", "TWO"}));
}

TEST_F(ImportFailure, ProducedDataThatDoesNotParseEndsTheImportWhileTheWindowIsVisible) {
  g_bInteractive = 1;
  Write("ProducedData_2.xml", "<ProducedData xmlns='urn:ralto:config:1.0'>\n<Producer></ProducedData>");
  CXmlDocument parsed;
  ASSERT_FALSE(parsed.Load("<ProducedData xmlns='urn:ralto:config:1.0'>\n<Producer></ProducedData>"));
  EXPECT_EQ(Import(store_, false), XmlParseErrorResult(parsed.ParseErrorCode()));
  EXPECT_TRUE(Imported("ONE"));
  EXPECT_FALSE(Imported("TWO"));
  EXPECT_FALSE(Imported("THREE"));
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].first,
            "Error parsing ProducedData.xml file from Ralto configuration server: \n" + parsed.ParseErrorReason());
  EXPECT_EQ(messages_.boxes[0].second, MessageBoxIcon::NoIcon);
}

TEST_F(ImportFailure, SummaryThatDoesNotParse) {
  Write("ConfigurationSummary.xml", "<ConfigurationSummary xmlns='urn:ralto:config:1.0'><NodeSummary>");
  EXPECT_EQ(Import(store_, false), E_POINTER);
  EXPECT_TRUE(messages_.boxes.empty());

  g_bInteractive = 1;
  CXmlDocument parsed;
  ASSERT_FALSE(parsed.Load("<ConfigurationSummary xmlns='urn:ralto:config:1.0'><NodeSummary>"));
  EXPECT_EQ(Import(store_, false), XmlParseErrorResult(parsed.ParseErrorCode()));
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].first,
            "Error parsing configuration summary from Ralto configuration server:  \n" + parsed.ParseErrorReason());
  EXPECT_EQ(messages_.boxes[0].second, kExclamation);

  Write("ConfigurationSummary.xml", "");
  EXPECT_EQ(Import(store_, false), static_cast<HRESULT>(0xC00C0004));  // document empty
  EXPECT_TRUE(store_.itemMap.empty());
}

TEST_F(ImportFailure, SummaryEntriesWithoutANameOrANumericProducerId) {
  Write("ConfigurationSummary.xml", R"(<ConfigurationSummary xmlns="urn:ralto:config:1.0">
    <NodeSummary Name="ONE" ProducerId="1"><Document DocType="ProducedData"/></NodeSummary>
    <NodeSummary Name="X" ProducerId="abc"><Document DocType="ProducedData"/></NodeSummary>
    <NodeSummary Name="Y" ProducerId="-1"><Document DocType="ProducedData"/></NodeSummary>
    <NodeSummary Name="Z"><Document DocType="ProducedData"/></NodeSummary>
    <NodeSummary ProducerId="2"><Document DocType="ProducedData"/></NodeSummary>
    <NodeSummary Name="THREE" ProducerId=" 3 "><Document DocType="ProducedData"/></NodeSummary>
  </ConfigurationSummary>)");
  EXPECT_EQ(Import(store_, false), S_OK);
  EXPECT_TRUE(Imported("ONE"));
  EXPECT_TRUE(Imported("THREE"));
  EXPECT_EQ(store_.configTimeSecsMap.size(), 2u);

  CTestVarStore fresh;
  CStoreEntrySupply supply(fresh);
  g_bInteractive = 1;
  EXPECT_EQ(Import(fresh, false), E_FAIL);
  EXPECT_NE(fresh.FindVariable("ONE.A.AS"), nullptr);
  EXPECT_EQ(fresh.FindVariable("THREE.A.AS"), nullptr);
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].first,
            "Producing node found in Ralto Configuration Summary but not in current producer.");
  EXPECT_EQ(messages_.boxes[0].second, kExclamation);
}

TEST_F(ImportFailure, ProducersWithoutAUsableConfigurationTimeAreSkipped) {
  g_bInteractive = 1;
  Write("ProducedData_1.xml", R"(<ProducedData xmlns="urn:ralto:config:1.0"><Producer ConfigTimeSecs="5">
    <RaltoConfigExtension><BlockStructures>)" + AnalogBlock("A", "", "", "") +
                                  "</BlockStructures></RaltoConfigExtension></Producer></ProducedData>");
  Write("ProducedData_2.xml", ProducedData("TWO", "soon", "0", AnalogBlock("A", "", "", "")));
  Write("ProducedData_3.xml", "<ProducedData xmlns='urn:ralto:config:1.0'/>");
  EXPECT_EQ(Import(store_, false), S_OK);
  EXPECT_TRUE(store_.itemMap.empty());
  EXPECT_TRUE(store_.configTimeSecsMap.empty());
  EXPECT_TRUE(messages_.boxes.empty());
  // A document in another namespace has no Producer either.
  Write("ProducedData_3.xml", "<ProducedData xmlns='urn:other'><Producer ConfigTimeSecs='1' ConfigTimeNSecs='1'/></ProducedData>");
  EXPECT_EQ(Import(store_, false), S_OK);
  EXPECT_TRUE(store_.configTimeSecsMap.empty());
}

TEST_F(ImportFailure, MembersWithoutAName) {
  Write("ProducedData_2.xml", ProducedData("TWO", "1", "1", R"(<BlockStructure Name="A">
      <BlockSubElement BlockType="O0C"/>
      <BlockSubElement Name="A.AS" BlockType="O0C"/></BlockStructure>)"));
  EXPECT_EQ(Import(store_, false), S_OK);
  EXPECT_TRUE(Imported("TWO"));
  EXPECT_TRUE(Imported("THREE"));

  CTestVarStore fresh;
  CStoreEntrySupply supply(fresh);
  g_bInteractive = 1;
  EXPECT_EQ(Import(fresh, false), E_POINTER);
  EXPECT_NE(fresh.FindVariable("ONE.A.AS"), nullptr);
  EXPECT_EQ(fresh.FindVariable("TWO.A.AS"), nullptr);
  EXPECT_EQ(fresh.FindVariable("THREE.A.AS"), nullptr);
  // The marker is stored before the members are read: it stays.
  EXPECT_TRUE(fresh.configTimeSecsMap.count(2));
  ASSERT_EQ(messages_.boxes.size(), 1u);
  EXPECT_EQ(messages_.boxes[0].first, "Could not access alarm block member variable from ProducedData.xml file");
  EXPECT_EQ(messages_.boxes[0].second, kExclamation);
}

TEST_F(ImportFailure, RefusedDocumentsEndTheImportWithTheServersResult) {
  Remove("ProducedData_3.xml");
  EXPECT_EQ(Import(store_, false), RALTO_E_UNKNOWN_PRODUCER);
  EXPECT_TRUE(Imported("ONE"));
  EXPECT_TRUE(Imported("TWO"));

  ComPtr<IRaltoConfigServerControl> control = Control();
  ASSERT_TRUE(control);
  ASSERT_EQ(control->FailDocument(RALTO_DOC_PRODUCED_DATA, 2, E_ACCESSDENIED), S_OK);
  CTestVarStore fresh;
  CStoreEntrySupply supply(fresh);
  EXPECT_EQ(Import(fresh, false), E_ACCESSDENIED);
  EXPECT_NE(fresh.FindVariable("ONE.A.AS"), nullptr);
  EXPECT_EQ(fresh.FindVariable("TWO.A.AS"), nullptr);

  ASSERT_EQ(control->FailDocument(RALTO_DOC_CONFIGURATION_SUMMARY, RALTO_SUMMARY_ID, RALTO_E_CONFIG_EDITING), S_OK);
  EXPECT_EQ(Import(fresh, true), RALTO_E_CONFIG_EDITING);
  ASSERT_EQ(control->ClearFailures(), S_OK);

  Remove("ConfigurationSummary.xml");
  EXPECT_EQ(Import(fresh, true), RALTO_E_DOCUMENT_NOT_FOUND);
  EXPECT_NE(fresh.FindVariable("ONE.A.AS"), nullptr);  // what was imported stays
  EXPECT_TRUE(messages_.boxes.empty());
}

TEST_F(ImportFailure, NoConfigurationServer) {
  ASSERT_EQ(UnregisterInprocServer(CLSID_RaltoConfigServer, kRaltoConfigServerProgId), S_OK);
  EXPECT_EQ(Import(store_, false), E_NOINTERFACE);
  EXPECT_TRUE(store_.itemMap.empty());
}

// 50 MB ProducedData documents: one made of many blocks imports; one whose
// single message passes the parser's limit on a text is a parse failure.
TEST_F(ImportFailure, FiftyMegabyteDocuments) {
  std::string filler;
  const std::string block = R"(<BlockStructure Name="V"><BlockSubElement Name="V.PV" BlockType="O0A"/></BlockStructure>
)";
  filler.reserve(50 << 20);
  while (filler.size() < (50u << 20)) filler += block;
  Write("ProducedData_2.xml", ProducedData("TWO", "1", "1", filler + AnalogBlock("A", "Big", "m", "r")));
  filler.clear();
  filler.shrink_to_fit();
  EXPECT_EQ(Import(store_, false), S_OK);
  ASSERT_TRUE(Imported("TWO"));
  EXPECT_EQ(store_.FindVariable("TWO.A.AS")->area, "Big");

  Write("ProducedData_3.xml",
        ProducedData("THREE", "1", "1", AnalogBlock("A", "Huge", std::string(50 << 20, 'x'), "")));
  CTestVarStore fresh;
  CStoreEntrySupply supply(fresh);
  EXPECT_EQ(Import(fresh, false), S_OK);
  EXPECT_TRUE(fresh.FindVariable("TWO.A.AS"));
  EXPECT_FALSE(fresh.FindVariable("THREE.A.AS"));
}

TEST_F(ImportFailure, NonAlarmDocumentsAndMarkupInAttributes) {
  Write("ProducedData_1.xml", "<?xml version='1.0'?><!-- nothing but a comment --><x/>");
  Write("ProducedData_2.xml",
        ProducedData("TWO", "1", "1", AnalogBlock("A", "a<b>&c", "<%VAL> & \"%STATE\"", "it's")));
  EXPECT_EQ(Import(store_, false), S_OK);
  EXPECT_FALSE(Imported("ONE"));
  ASSERT_TRUE(Imported("TWO"));
  EXPECT_EQ(store_.FindVariable("TWO.A.AS")->area, "a<b>&c");
  EXPECT_EQ(store_.FindVariable("TWO.A.AS")->message, "<%VAL> & \"%STATE\"");
  EXPECT_EQ(store_.FindVariable("TWO.A.RS")->rocMessage, "it's");
  EXPECT_TRUE(g_SourceCache.GetSource("a<b>&c/TWO_A.A"));
}

}  // namespace
