// The menus packed into the resource library: popups, items with their
// command IDs, separators and the template's check marks, in order.
#include <gtest/gtest.h>

#include <QXmlStreamReader>

#include <string>
#include <vector>

#include "resource_library.h"

namespace {

using Lines = std::vector<std::string>;

std::string Attribute(const QXmlStreamReader& xml, const char* name) {
  return xml.attributes().value(QLatin1String(name)).toString().toStdString();
}

// The content of the current <menu> or <popup>, one line per element,
// indented by nesting: "popup TEXT", "item ID TEXT [checked]", "separator".
// Fails the test on an element or attribute the format does not have.
void ReadEntries(QXmlStreamReader& xml, const std::string& indent, Lines& out) {
  while (xml.readNextStartElement()) {
    const QStringView name = xml.name();
    for (const QXmlStreamAttribute& attribute : xml.attributes()) {
      const QStringView key = attribute.name();
      bool known = key == QLatin1String("text") ||
                   (name == QLatin1String("item") && (key == QLatin1String("id") || key == QLatin1String("checked")));
      EXPECT_TRUE(known) << "attribute " << key.toString().toStdString() << " on <" << name.toString().toStdString()
                         << ">";
    }
    if (name == QLatin1String("popup")) {
      out.push_back(indent + "popup " + Attribute(xml, "text"));
      ReadEntries(xml, indent + "  ", out);
    } else if (name == QLatin1String("item")) {
      std::string checked = Attribute(xml, "checked");
      EXPECT_TRUE(checked.empty() || checked == "true") << "checked=\"" << checked << "\"";
      bool numeric = false;
      uint id = xml.attributes().value(QLatin1String("id")).toUInt(&numeric);
      EXPECT_TRUE(numeric && id > 0 && id <= 0xFFFF) << "item id \"" << Attribute(xml, "id") << "\"";
      out.push_back(indent + "item " + std::to_string(id) + " " + Attribute(xml, "text") +
                    (checked.empty() ? "" : " checked"));
      xml.skipCurrentElement();
    } else if (name == QLatin1String("separator")) {
      out.push_back(indent + "separator");
      xml.skipCurrentElement();
    } else {
      ADD_FAILURE() << "unexpected element <" << name.toString().toStdString() << ">";
      xml.skipCurrentElement();
    }
  }
}

// Menu `id` of the library as lines; empty when it has no such menu.
Lines ReadMenu(int id) {
  QXmlStreamReader xml(ReadResource(QStringLiteral(":/menus.xml")));
  Lines lines;
  if (!xml.readNextStartElement() || xml.name() != QLatin1String("menus")) {
    ADD_FAILURE() << "the root element is not <menus>";
    return lines;
  }
  int found = 0;
  while (xml.readNextStartElement()) {
    if (xml.name() == QLatin1String("menu") && Attribute(xml, "id") == std::to_string(id)) {
      ++found;
      ReadEntries(xml, "", lines);
    } else {
      xml.skipCurrentElement();
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_LE(found, 1) << "menu " << id << " appears " << found << " times";
  return lines;
}

TEST(Menus, MainMenuHoldsEveryCommandOfTheWindow) {
  ASSERT_TRUE(RegisterResourceLibrary());
  const Lines expected = {
      "popup &File",
      "  item 57665 E&xit",
      "popup &Stats",
      "  item 32777 &Set Sample Period...",
      "popup &Acknowledgments",
      "  item 32779 &View...",
      "  separator",
      "  item 32799 &Enable Logging",
      "  item 32780 &Configure...",
      "popup &Connection",
      "  item 32788 &Edit Connection...",
      "  item 32790 &Connect",
      "  item 32804 &Disconnect",
      "popup &Trace",
      "  item 32771 None checked",
      "  item 32772 Connect",
      "  item 32773 Server",
      "  item 32774 Subscription",
      "  item 32775 Event",
      "  item 32776 All",
      "  separator",
      "  item 32778 &Set Trace File...",
      "  separator",
      "  item 32785 &Enable COM Call Tracing checked",
      "popup &Help",
      "  item 57666 &Index",
      "  item 57664 &About Corvane Plantwise OPC AE Server",
  };
  EXPECT_EQ(ReadMenu(128), expected);
}

TEST(Menus, CommentsViewerContextMenuIsOnePopupOfThreeFilters) {
  ASSERT_TRUE(RegisterResourceLibrary());
  const Lines expected = {
      "popup Popup",
      "  popup &Location",
      "    item 32805 &Remote",
      "    item 32809 &Local",
      "    item 32808 &Custom",
      "  popup &Date Filter",
      "    item 32801 &Today",
      "    item 32802 &All",
      "    item 32806 &Custom",
      "    item 32810 &Filter on Selected Date",
      "  popup &Area Filter",
      "    item 32800 &All",
      "    item 32807 &Custom",
      "    item 32803 &Filter on Selected Area",
  };
  EXPECT_EQ(ReadMenu(1003), expected);
}

}  // namespace
