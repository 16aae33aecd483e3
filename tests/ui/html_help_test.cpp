// The help: where the book is found (the installed documentation folder,
// moved only by "CorvaneHelpLocation"), which page each help command
// opens, nothing for a page that is missing, and the built book itself.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "ui/html_help.h"
#include "ui_test_support.h"

namespace {

const char* const kInstallDetailsKey = "Software\\Quillan\\Loomhall\\InstallDetails\\System Server";
const char* const kVendorKey = "SOFTWARE\\Veltrocorp";
const char* const kHelpLocation = "CorvaneHelpLocation";

std::string InstalledDocumentation() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/doc/aeserver").toStdString() + "/";
}

class HtmlHelpTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    recorder_ = std::make_unique<CHelpPageRecorder>();
  }
  void TearDown() override { recorder_.reset(); }

  std::unique_ptr<CHelpPageRecorder> recorder_;
};

TEST_F(HtmlHelpTest, WithoutKeysTheBookIsInTheInstalledDocumentation) {
  EXPECT_EQ(HelpFolder(), InstalledDocumentation() + "1033/Corvane Plantwise/Help");
  EXPECT_EQ(HelpFilePath(), InstalledDocumentation() + "1033/Corvane Plantwise/Help/index.html");
  // The vendor key alone, without the value, changes nothing.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kVendorKey, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(HelpFilePath(), InstalledDocumentation() + "1033/Corvane Plantwise/Help/index.html");
}

TEST_F(HtmlHelpTest, InstallDetailsKeyEndsTheLookup) {
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kVendorKey, kHelpLocation, "/opt/elsewhere"), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kInstallDetailsKey, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(HelpFilePath(), InstalledDocumentation() + "1033/Corvane Plantwise/Help/index.html");
}

struct Location {
  const char* name;
  std::string value;  // stored as REG_SZ
  std::string expected;  // "" for the installed documentation
};

void PrintTo(const Location& l, std::ostream* out) { *out << l.name; }

class HelpLocationTest : public HtmlHelpTest, public testing::WithParamInterface<Location> {};

TEST_P(HelpLocationTest, MovesTheBook) {
  const Location& l = GetParam();
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kVendorKey, kHelpLocation, l.value), ERROR_SUCCESS);
  const std::string expected = l.expected.empty() ? InstalledDocumentation() + "1033/Corvane Plantwise/Help/index.html"
                                                  : l.expected;
  EXPECT_EQ(HelpFilePath(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, HelpLocationTest,
    testing::Values(
        Location{"Plain", "/opt/help", "/opt/help/1033/Corvane Plantwise/Help/index.html"},
        Location{"WithSlash", "/opt/help/", "/opt/help/1033/Corvane Plantwise/Help/index.html"},
        Location{"WithBackslash", "D:\\Doc\\", "D:\\Doc\\1033/Corvane Plantwise/Help/index.html"},
        Location{"Empty", "", ""},
        // 259 characters and the terminator fill the 260-byte buffer; one
        // more does not fit and the read fails.
        Location{"FillsTheBuffer", "/" + std::string(258, 'h'), "/" + std::string(258, 'h') + "/1033/Corvane Plantwise/Help/index.html"},
        Location{"TooLong", "/" + std::string(259, 'h'), ""}),
    [](const testing::TestParamInfo<Location>& info) { return std::string(info.param.name); });

TEST_F(HtmlHelpTest, AValueThatIsNoTextIsNoLocation) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kVendorKey, kHelpLocation, 7), ERROR_SUCCESS);
  EXPECT_EQ(HelpFilePath(), InstalledDocumentation() + "1033/Corvane Plantwise/Help/index.html");
}

TEST_F(HtmlHelpTest, OpensTheTopicOrTheContextPageBesideIt) {
  QTemporaryDir book;
  ASSERT_TRUE(book.isValid());
  for (const char* page : {"index.html", "context-2000.html"}) {
    QFile file(book.filePath(page));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html></html>\n");
  }
  const std::string index = book.filePath("index.html").toStdString();

  EXPECT_TRUE(HtmlHelpW(index, HH_DISPLAY_TOPIC, 0));
  EXPECT_TRUE(HtmlHelpW(index, HH_HELP_CONTEXT, 2000));
  ASSERT_EQ(recorder_->opened.size(), 2u);
  EXPECT_EQ(recorder_->opened[0], QUrl::fromLocalFile(book.filePath("index.html")));
  EXPECT_EQ(recorder_->opened[1], QUrl::fromLocalFile(book.filePath("context-2000.html")));

  // Missing pages and other commands show nothing.
  EXPECT_FALSE(HtmlHelpW(index, HH_HELP_CONTEXT, 3000));
  EXPECT_FALSE(HtmlHelpW(book.filePath("missing.html").toStdString(), HH_DISPLAY_TOPIC, 0));
  EXPECT_FALSE(HtmlHelpW(book.path().toStdString(), HH_DISPLAY_TOPIC, 0)) << "a folder is no page";
  EXPECT_FALSE(HtmlHelpW(index, 1, 2000));
  EXPECT_FALSE(HtmlHelpW("", HH_HELP_CONTEXT, 2000));
  EXPECT_EQ(recorder_->opened.size(), 2u);
}

TEST_F(HtmlHelpTest, TheBuiltBookHasEveryPageAndItsLinksHold) {
  const std::string index = HelpFilePath();
  EXPECT_TRUE(HtmlHelpW(index, HH_DISPLAY_TOPIC, 0)) << index;
  for (uint32_t context : {2000u, 3000u, 3100u}) EXPECT_TRUE(HtmlHelpW(index, HH_HELP_CONTEXT, context)) << context;

  // Every page's local links and its style sheet lead to a file of the book;
  // the book holds no scripts.
  const QDir folder(QString::fromStdString(HelpFolder()));
  const QRegularExpression link(R"re((?:href|src)="([^"#:]+)(?:#[^"]*)?")re");
  int pages = 0;
  for (const QFileInfo& page : folder.entryInfoList({"*.html"}, QDir::Files)) {
    ++pages;
    QFile file(page.filePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_FALSE(html.contains("<script", Qt::CaseInsensitive)) << page.fileName().toStdString();
    EXPECT_TRUE(html.contains("help.css")) << page.fileName().toStdString();
    for (auto it = link.globalMatch(html); it.hasNext();) {
      const QString target = it.next().captured(1);
      EXPECT_TRUE(QFileInfo::exists(folder.filePath(target)))
          << page.fileName().toStdString() << " links to missing " << target.toStdString();
    }
    if (page.fileName() == "index.html") {
      for (const char* other : {"context-2000.html", "context-3000.html", "context-3100.html"})
        EXPECT_TRUE(html.contains(QString("href=\"%1\"").arg(other))) << "index.html does not link " << other;
    }
  }
  EXPECT_EQ(pages, 4);
}

}  // namespace
