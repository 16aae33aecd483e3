// The help: the book is in the installed documentation folder unless
// "CorvaneHelpLocation" moves it (and the install-details key forbids
// that); each command opens its page, a missing page nothing; the built
// book has every page, its links hold and it runs no script.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>
#include <string>

#include "platform/registry.h"
#include "ui/html_help.h"
#include "ui_test_support.h"

namespace {

const char* const kVendorKey = "SOFTWARE\\Veltrocorp";
const char* const kHelpLocation = "CorvaneHelpLocation";
const std::string kBook = "1033/Corvane Plantwise/Help/index.html";

std::string Installed() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/doc/aeserver").toStdString() + "/" + kBook;
}

struct Lookup {
  const char* name;
  std::function<void()> store;
  std::string expected;  // "" for the installed book
};

class HelpLookupTest : public testing::TestWithParam<Lookup> {
 protected:
  void SetUp() override {
    EnsureApplication();
    RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Quillan\\Loomhall");
    RegDeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
  }
};

TEST_P(HelpLookupTest, FindsTheBook) {
  GetParam().store();
  EXPECT_EQ(HelpFilePath(), GetParam().expected.empty() ? Installed() : GetParam().expected);
  EXPECT_EQ(HelpFolder() + "/index.html", HelpFilePath());
}

void Location(const std::string& value) { ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kVendorKey, kHelpLocation, value), ERROR_SUCCESS); }

INSTANTIATE_TEST_SUITE_P(
    Registry, HelpLookupTest,
    testing::Values(
        Lookup{"NoKeys", [] {}, ""},
        Lookup{"VendorKeyWithoutValue",
               [] { ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kVendorKey, "Other", 1), ERROR_SUCCESS); }, ""},
        Lookup{"InstallDetailsEndTheLookup",
               [] {
                 Location("/opt/elsewhere");
                 HKEY key = nullptr;
                 ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Quillan\\Loomhall\\InstallDetails\\System Server",
                                          KEY_ALL_ACCESS, &key, nullptr),
                           ERROR_SUCCESS);
                 RegCloseKey(key);
               },
               ""},
        Lookup{"Location", [] { Location("/opt/help"); }, "/opt/help/" + kBook},
        Lookup{"LocationWithSlash", [] { Location("/opt/help/"); }, "/opt/help/" + kBook},
        Lookup{"LocationWithBackslash", [] { Location("D:\\Doc\\"); }, "D:\\Doc\\" + kBook},
        Lookup{"EmptyLocation", [] { Location(""); }, ""},
        // 259 characters and the terminator fill the 260-byte buffer; one more fails the read.
        Lookup{"LocationFillsTheBuffer", [] { Location("/" + std::string(258, 'h')); },
               "/" + std::string(258, 'h') + "/" + kBook},
        Lookup{"LocationTooLong", [] { Location("/" + std::string(259, 'h')); }, ""},
        Lookup{"LocationNoText",
               [] { ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kVendorKey, kHelpLocation, 7), ERROR_SUCCESS); }, ""}),
    [](const testing::TestParamInfo<Lookup>& info) { return std::string(info.param.name); });

class HtmlHelpTest : public testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
};

TEST_F(HtmlHelpTest, OpensTheTopicOrTheContextPageBesideItAndNothingMissing) {
  QTemporaryDir book;
  ASSERT_TRUE(book.isValid());
  for (const char* page : {"index.html", "context-2000.html"}) {
    QFile file(book.filePath(page));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const std::string index = book.filePath("index.html").toStdString();
  CHelpPageRecorder recorder;
  EXPECT_TRUE(HtmlHelpW(index, HH_DISPLAY_TOPIC, 0));
  EXPECT_TRUE(HtmlHelpW(index, HH_HELP_CONTEXT, 2000));
  EXPECT_FALSE(HtmlHelpW(index, HH_HELP_CONTEXT, 3000));
  EXPECT_FALSE(HtmlHelpW(book.filePath("missing.html").toStdString(), HH_DISPLAY_TOPIC, 0));
  EXPECT_FALSE(HtmlHelpW(book.path().toStdString(), HH_DISPLAY_TOPIC, 0)) << "a folder is no page";
  EXPECT_FALSE(HtmlHelpW(index, 1, 2000)) << "another command";
  EXPECT_EQ(recorder.opened,
            (std::vector{QUrl::fromLocalFile(book.filePath("index.html")),
                         QUrl::fromLocalFile(book.filePath("context-2000.html"))}));
}

TEST_F(HtmlHelpTest, TheBuiltBookHasEveryPageAndItsLinksHold) {
  CHelpPageRecorder recorder;
  EXPECT_TRUE(HtmlHelpW(HelpFilePath(), HH_DISPLAY_TOPIC, 0)) << HelpFilePath();
  for (uint32_t context : {2000u, 3000u, 3100u}) EXPECT_TRUE(HtmlHelpW(HelpFilePath(), HH_HELP_CONTEXT, context)) << context;

  const QDir folder(QString::fromStdString(HelpFolder()));
  const QRegularExpression link(R"re((?:href|src)="([^"#:]*)(?:#[^"]*)?")re");
  const QStringList pages = folder.entryList({"*.html"}, QDir::Files);
  EXPECT_EQ(pages.size(), 4);
  for (const QString& page : pages) {
    SCOPED_TRACE(page.toStdString());
    QFile file(folder.filePath(page));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_FALSE(html.contains("<script", Qt::CaseInsensitive));
    EXPECT_TRUE(html.contains(R"(href="help.css")"));
    for (const QString other : {"index.html", "context-2000.html", "context-3000.html", "context-3100.html"})
      EXPECT_TRUE(html.contains("href=\"" + other + "\"")) << "no link to " << other.toStdString();
    for (auto it = link.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      if (!target.isEmpty()) {
        EXPECT_TRUE(QFileInfo::exists(folder.filePath(target))) << "broken link " << target.toStdString();
      }
    }
  }
}

}  // namespace
