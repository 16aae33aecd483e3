// The string table packed into the resource library: every text the server
// shows by string ID, exactly, and the entries kept although nothing shows them.
#include <gtest/gtest.h>

#include <QXmlStreamReader>

#include <cstdint>
#include <map>
#include <string>

#include "resource_library.h"

namespace {

// The table as the library holds it; fails the test on anything but
// <strings><string id="N">text</string>...</strings> with distinct IDs.
std::map<uint32_t, std::string> ReadStringTable() {
  std::map<uint32_t, std::string> table;
  QXmlStreamReader xml(ReadResource(QStringLiteral(":/strings.xml")));
  if (!xml.readNextStartElement() || xml.name() != QLatin1String("strings")) {
    ADD_FAILURE() << "the root element is not <strings>";
    return table;
  }
  while (xml.readNextStartElement()) {
    if (xml.name() != QLatin1String("string")) {
      ADD_FAILURE() << "unexpected element <" << xml.name().toString().toStdString() << ">";
      xml.skipCurrentElement();
      continue;
    }
    bool numeric = false;
    uint id = xml.attributes().value(QLatin1String("id")).toUInt(&numeric);
    std::string text = xml.readElementText().toStdString();
    EXPECT_TRUE(numeric && id <= 0xFFFF) << "a string without a decimal id: " << text;
    EXPECT_TRUE(table.emplace(id, text).second) << "id " << id << " appears twice";
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  return table;
}

TEST(StringTable, HoldsEveryTextTheServerShowsExactly) {
  ASSERT_TRUE(RegisterResourceLibrary());
  const std::map<uint32_t, std::string> expected = {
      // The document template: the window title, then six empty fields.
      {128, "Corvane Plantwise OPC AE Server\n\n\n\n\n\n"},
      // Main window.
      {1000, "Shutting down server will close all client connections."},
      {1005, "Cannot edit connection while connected.\nDisconnect?"},
      {1007, "Cannot edit connection while connecting!"},
      {1008, "Cannot exit while connections are attempting to connect!'"},
      {61452, "Statistic"},
      {61453, "Value"},
      {61454, "Sample Period (ms)"},
      {61455, "Num Event Server Objects"},
      {61456, "Num Subscriptions"},
      {61457, "Num Browser Objects"},
      {61458, "Num Events Generated"},
      {61459, "Num Client Notifications"},
      {61460, "Num Events Last Sample Period"},
      {61461, "Status"},
      {61462, "Server Name"},
      {61464, "Not Connected"},
      {61465, "Connected"},
      {61466, "Invalid Server"},
      {61467, "Connecting..."},
      // Comments viewer: columns and status panes.
      {1012, "Timestamp"},
      {1013, "Area"},
      {1014, "Target"},
      {1015, "Variable"},
      {1016, "Condition"},
      {1017, "Subcondition"},
      {1018, "Operator"},
      {1019, "Comment"},
      {1022, "Result"},
      {1026, "%s"},
      {1027, "Date Filter: %s to %s"},
      {1028, "Date Filter: Today"},
      {1029, "Date Filter: All"},
      {1030, "placeholder: Location"},
      {1031, "placeholder: Date"},
      {1032, "placeholder: Area"},
      {1033, "Area Filter: All"},
      {1034, "Area Filter: %s"},
      {1035, "Date Filter: %s"},
      // Log dialogs.
      {1021, "Choose a local log directory"},
      {1024, "Choose a remote log directory"},
      {1025, "Choose a custom log directory"},
      {61473, "Directory does not exist: \"%s\"\nDo you want to save this value?"},
      {61474, "Invalid Directory"},
      {61475, "The Local and Remote Paths must be set to different values."},
      // Connection dialog.
      {61447, "The 'Server' field must be filled in!"},
      {61476, "Invalid server, please enter a valid server name."},
      // Alarm sources, acknowledgement write-back, configuration import.
      {1023, "Unknown User"},
      {1036, "Success"},
      {1037, "Error: OPC Write failed: Result 0x%08X, Error 0x%08X"},
      {1038, "Error: Couldn't find variable %1"},
      {1039, "Error: Existing activation time (%1) does not match incoming time (%2)"},
      {1040, "Error: Not Connected to Ralto Stewardry Edition OPC Server"},
      {61463, "Brixham.RaltoOPC"},
      {61468, "Error parsing configuration summary from Ralto configuration server:  \n%1"},
      {61469, "Producing node found in Ralto Configuration Summary but not in current producer."},
      {61470, "Error parsing ProducedData.xml file from Ralto configuration server: \n%1"},
      {61471, "Could not access alarm block member variable from ProducedData.xml file"},
      {61472, "Could not load current ProducedData.xml file."},
      // Command prompts, application title, idle prompt.
      {32771, "Disable Tracing"},
      {32772, "Trace client connections"},
      {32773, "Trace OPC Event Server Object Activities"},
      {32774, "Trace subscription level activities"},
      {32775, "Trace all event activities"},
      {32776, "Trace all"},
      {32777, "Set Statistics Sample Period"},
      {32778, "Set file for trace output"},
      {32785, "Check for log file in \"<CommomFilesDir>\\Harrowgate\\TolkTraceHook\"."},
      {32787, "View configured OPC DA server connection"},
      {32788, "Edit current connection"},
      {57344, "Corvane Plantwise OPC AE Server"},
      {57345, "Ready"},
  };
  const std::map<uint32_t, std::string> table = ReadStringTable();
  for (const auto& [id, text] : expected) {
    auto it = table.find(id);
    if (it == table.end()) {
      ADD_FAILURE() << "no string " << id;
      continue;
    }
    EXPECT_EQ(it->second, text) << "string " << id;
  }
}

TEST(StringTable, KeepsTheEntriesNothingShows) {
  ASSERT_TRUE(RegisterResourceLibrary());
  const std::map<uint32_t, std::string> table = ReadStringTable();
  for (uint32_t id : {1001u, 1002u, 1011u, 1020u, 32781u, 61450u, 61451u}) {
    auto it = table.find(id);
    ASSERT_NE(it, table.end()) << "no string " << id;
    EXPECT_NE(it->second.find_first_not_of(' '), std::string::npos) << "string " << id;
  }
  for (uint32_t id : {1003u, 1006u, 32786u, 32789u, 61446u, 61448u, 61449u}) {
    auto it = table.find(id);
    ASSERT_NE(it, table.end()) << "no string " << id;
    EXPECT_EQ(it->second, " ") << "string " << id;
  }
}

}  // namespace
