// The XML document wrapper: selections under bound prefixes, attributes as
// XPath sees them, parse failures, load options, and trees built, changed
// and written in place.
#include "platform/xml_document.h"

#include <gtest/gtest.h>

namespace {

constexpr char kNamespace[] = "urn:ralto:config:1.0";

TEST(XmlDocument, SelectsInDocumentOrderUnderTheBoundPrefix) {
  CXmlDocument doc;
  ASSERT_TRUE(doc.Load("<r xmlns='urn:ralto:config:1.0'><a n='1'/><b><a n='2'/></b><a n='3'/>"
                       "<a xmlns='urn:other' n='4'/></r>"));
  ASSERT_TRUE(doc.SetSelectionNamespace("QQQ", kNamespace));
  std::string n;
  std::vector<std::string> found;
  for (const CXmlNode& a : doc.SelectNodes("//QQQ:a")) {
    ASSERT_TRUE(a.GetAttribute("n", n));
    found.push_back(n);
  }
  EXPECT_EQ(found, (std::vector<std::string>{"1", "2", "3"}));  // urn:other is not QQQ
  EXPECT_TRUE(doc.SelectSingleNode("/QQQ:r/QQQ:a[@n='3']"));
  EXPECT_FALSE(doc.SelectSingleNode("/r"));  // no namespace: not the element
  EXPECT_TRUE(doc.SelectNodes("/QQQ:r[").empty());  // does not compile: selects nothing
}

TEST(XmlDocument, AttributesAsXPathSeesThem) {
  CXmlDocument doc;
  ASSERT_TRUE(doc.Load("<!DOCTYPE r [<!ENTITY e 'x&amp;y'><!ATTLIST r d CDATA 'default'>]>"
                       "<r xmlns:p='urn:p' a='A &amp; &lt;B&gt; &e;' p:b='namespaced' empty=''/>"));
  CXmlNode root = doc.Root();
  std::string value = "untouched";
  EXPECT_TRUE(root.GetAttribute("a", value));
  EXPECT_EQ(value, "A & <B> x&y");
  EXPECT_TRUE(root.GetAttribute("empty", value));
  EXPECT_EQ(value, "");
  // A namespaced attribute and a DTD default are not the attribute @b / @d.
  EXPECT_FALSE(root.GetAttribute("b", value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(root.HasAttribute("d"));
  EXPECT_FALSE(CXmlNode().GetAttribute("a", value));
}

TEST(XmlDocument, ParseFailuresGiveTheParsersCodeAndReason) {
  CXmlDocument doc;
  EXPECT_FALSE(doc.Load(""));
  EXPECT_EQ(doc.ParseErrorCode(), 4);  // document empty
  EXPECT_FALSE(doc.ParseErrorReason().empty());

  EXPECT_FALSE(doc.Load("<a>\n<b></a>"));
  EXPECT_NE(doc.ParseErrorCode(), 0);
  EXPECT_EQ(doc.ParseErrorReason().rfind("line 2: ", 0), 0u) << doc.ParseErrorReason();
  EXPECT_FALSE(doc.Root());
  EXPECT_TRUE(doc.SelectNodes("/a").empty());

  // Outside resources are never fetched.
  EXPECT_TRUE(doc.Load("<!DOCTYPE a SYSTEM 'http://example.invalid/a.dtd'><a/>"));
  EXPECT_TRUE(doc.Root());
  EXPECT_EQ(doc.ParseErrorCode(), 0);
}

TEST(XmlDocument, BuildsChangesAndWritesAnEditableTree) {
  CXmlDocument doc;
  doc.Create();
  EXPECT_EQ(doc.Serialize(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  CXmlNode root = doc.CreateRoot("log");
  ASSERT_TRUE(root);
  EXPECT_FALSE(doc.CreateRoot("second"));  // one top element
  EXPECT_TRUE(root.SetAttribute("v", "1 & \"2\""));
  root.AppendText("\n");
  CXmlNode first = root.AppendElement("entry");
  first.AppendText("a < b");
  root.AppendText("\n");
  root.AppendText("  ");  // merged into the text before
  CXmlNode second = root.AppendElement("entry");
  EXPECT_EQ(doc.Serialize(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<log v=\"1 &amp; &quot;2&quot;\">\n<entry>a &lt; b</entry>\n  <entry/></log>\n");

  // Walks: elements by name, every node, texts.
  EXPECT_EQ(root.FirstChildElement(), first);
  EXPECT_EQ(first.NextSiblingElement(), second);
  EXPECT_FALSE(second.NextSiblingElement());
  CXmlNode layout = first.NextSibling();
  EXPECT_TRUE(layout.IsText());
  EXPECT_EQ(layout.Text(), "\n  ");
  EXPECT_EQ(layout.Name(), std::string());
  EXPECT_EQ(first.Name(), std::string("entry"));
  EXPECT_EQ(first.Text(), "a < b");
  EXPECT_EQ(second.Text(), "");
  EXPECT_EQ(root.Text(), "\na < b\n  ");

  EXPECT_TRUE(first.Remove());
  EXPECT_FALSE(first);
  EXPECT_TRUE(layout.Remove());
  EXPECT_EQ(doc.SelectNodes("log/entry").size(), 1u);  // relative to the document
  EXPECT_EQ(doc.Serialize(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<log v=\"1 &amp; &quot;2&quot;\">\n<entry/></log>\n");

  // An empty handle does nothing.
  CXmlNode none;
  EXPECT_FALSE(none.AppendElement("x"));
  EXPECT_FALSE(none.SetAttribute("a", "b"));
  EXPECT_FALSE(none.Remove());
  EXPECT_FALSE(none.NextSibling());
}

TEST(XmlDocument, LoadOptions) {
  const std::string text = "<?xml version='1.0' encoding='ISO-8859-1'?>\n<r>\n  <e>\xC3\xA9</e>\n</r>";
  CXmlDocument doc;
  ASSERT_TRUE(doc.Load(text));
  EXPECT_EQ(doc.Root().FirstChildElement().Text(), "\xC3\x83\xC2\xA9");  // two Latin-1 characters
  EXPECT_TRUE(doc.Root().FirstChildElement().NextSibling().IsText());
  ASSERT_TRUE(doc.Load(text, {.utf8 = true}));
  EXPECT_EQ(doc.Root().FirstChildElement().Text(), "\xC3\xA9");
  ASSERT_TRUE(doc.Load(text, {.dropBlankText = true}));
  EXPECT_FALSE(doc.Root().FirstChildElement().NextSibling());

  // A loaded tree opened for changes takes them.
  ASSERT_TRUE(doc.Load(text, {.editable = true}));
  CXmlNode e = doc.Root().FirstChildElement();
  e.AppendText(" more");
  EXPECT_EQ(e.Text(), "\xC3\x83\xC2\xA9 more");

  EXPECT_FALSE(doc.HasDocumentType());
  ASSERT_TRUE(doc.Load("<!DOCTYPE r><r/>"));
  EXPECT_TRUE(doc.HasDocumentType());
}

TEST(XmlDocument, ParseErrorResultIsAFailure) {
  EXPECT_EQ(XmlParseErrorResult(4), static_cast<HRESULT>(0xC00C0004));
  EXPECT_TRUE(FAILED(XmlParseErrorResult(76)));
  EXPECT_EQ(XmlParseErrorResult(0), E_FAIL);
  EXPECT_EQ(XmlParseErrorResult(0x10000), E_FAIL);
}

// A literal built for any text selects exactly the element named by it.
TEST(XPathStringLiteral, SelectsNamesHoldingEitherOrBothQuotes) {
  const std::string names[] = {"plain", "O'Brien", "say \"hi\"", "it's \"both\"", "'", "\"", "''\"\"'",
                               "a]b[@c='d']", ""};
  std::string xml = "<r>";
  for (size_t i = 0; i < std::size(names); ++i) {
    std::string escaped;
    for (char c : names[i]) escaped += c == '"' ? "&quot;" : c == '&' ? "&amp;" : std::string(1, c);
    xml += "<e i='" + std::to_string(i) + "' n=\"" + escaped + "\"/>";
  }
  xml += "</r>";
  CXmlDocument doc;
  ASSERT_TRUE(doc.Load(xml));
  for (size_t i = 0; i < std::size(names); ++i) {
    std::string literal = XPathStringLiteral(names[i]);
    std::vector<CXmlNode> hits = doc.SelectNodes("/r/e[@n=" + literal + "]");
    ASSERT_EQ(hits.size(), 1u) << names[i] << " as " << literal;
    std::string index;
    hits[0].GetAttribute("i", index);
    EXPECT_EQ(index, std::to_string(i)) << literal;
  }
  EXPECT_EQ(XPathStringLiteral("O'Brien"), "\"O'Brien\"");
  EXPECT_EQ(XPathStringLiteral("it's \"x\""), "concat('it', \"'\", 's \"x\"')");
}

}  // namespace
