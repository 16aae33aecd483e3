// Test helpers for the configuration import: the configuration server
// registered in the test's private registry store and serving a document
// directory of the test's own; small documents written by hand; the string
// table; a message box sink that records; and (store_entry_supply.h) a
// variable store and an entry supply standing in for the OPC DA client and
// the connection manager.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "alarmconfig/message_box_sink.h"
#include "alarmconfig/resource_string_table.h"
#include "platform/com.h"
#include "ralto/config_server.h"
#include "store_entry_supply.h"

// Records the message boxes shown.
class CRecordingMessageSink : public CMessageBoxSink {
 public:
  void ShowMessageBox(const std::string& text, MessageBoxIcon icon) override {
    boxes.emplace_back(text, icon);
  }
  std::vector<std::pair<std::string, MessageBoxIcon>> boxes;
};

// Documents by hand.
namespace plantdoc {
// A summary listing producers (name, id), each with a ProducedData document.
std::string Summary(const std::vector<std::pair<std::string, std::string>>& producers);
// A ProducedData document with the given configuration time and the
// BlockStructure elements `structures`.
std::string ProducedData(const std::string& node, const std::string& secs, const std::string& nsecs,
                         const std::string& structures);
// An O0C block with .AS, .RS, .LP, .FC members, an Area and a Message.
std::string AnalogBlock(const std::string& name, const std::string& area, const std::string& message,
                        const std::string& rocMessage, const std::string& priorities = "1,2,3,4,5,1");
// An O0D block with .AS, .LP, .FC members, an Area and a Message.
std::string DigitalBlock(const std::string& name, const std::string& area, const std::string& message,
                         const std::string& priority = "2");
// `text` escaped for an attribute value.
std::string Attr(const std::string& text);
}  // namespace plantdoc

class ImportTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a file of the document directory.
  void Write(const std::string& name, const std::string& text);
  void Remove(const std::string& name);
  // Copies every document of `from` into the document directory.
  void CopyDocuments(const std::string& from);
  // Runs plantgen with `arguments` on the document directory; true on exit 0.
  bool Plantgen(const std::string& arguments);

  // The import under g_ConfigMutex, as the connection manager runs it.
  HRESULT Import(CAlarmVarStore& store, bool incremental);

  std::string dir_;
  CRecordingMessageSink messages_;

 private:
  ResourceStringProvider previousStrings_;
};
