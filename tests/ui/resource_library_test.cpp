// The resource library: anything short of a whole library is refused with
// nothing registered; a whole one serves its forms, its string table and
// the forms' font until Free, which gives back what it replaced.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QTemporaryDir>

#include "platform/resource_strings.h"
#include "ui/resource_library.h"
#include "ui_test_support.h"

namespace {

const QString kFormFont = QStringLiteral("MS Sans Serif");

class ResourceLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    SetResourceStringProvider([](uint32_t id) { return id == 61476 ? std::string("before") : std::string(); });
  }
  void TearDown() override {
    CResourceLibrary::Free();
    SetResourceStringProvider({});
  }

  static void ExpectNothingRegistered() {
    EXPECT_FALSE(CResourceLibrary::IsLoaded());
    EXPECT_FALSE(QFile::exists(":/dialog_143.ui"));
    EXPECT_FALSE(QFile::exists(":/strings.xml"));
    EXPECT_EQ(CResourceLibrary::String(61476).toStdString(), "before");
    EXPECT_TRUE(QFont::substitutes(kFormFont).isEmpty());
  }
};

TEST_F(ResourceLibraryTest, RefusesWhatIsNoWholeLibrary) {
  QTemporaryDir empty, garbage, unreadable;
  ASSERT_TRUE(empty.isValid() && garbage.isValid() && unreadable.isValid());
  QFile file(garbage.filePath(CResourceLibrary::kFileName));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("MZ this is not a resource library\n");
  file.close();
  const QString closed = unreadable.filePath(CResourceLibrary::kFileName);
  ASSERT_TRUE(QFile::copy(QStringLiteral(AE_RESOURCE_LIBRARY), closed));
  ASSERT_TRUE(QFile::setPermissions(closed, QFileDevice::Permissions()));
  QStringList folders = {empty.path(), empty.path() + "/missing", garbage.path(),
                         // a library whose string table gives an ID twice
                         QStringLiteral(AE_BROKEN_LIBRARY_DIR)};
  if (!QFileInfo(closed).isReadable()) folders << unreadable.path();  // root reads anything
  for (const QString& folder : folders) {
    SCOPED_TRACE(folder.toStdString());
    EXPECT_FALSE(CResourceLibrary::Load(folder));
    ExpectNothingRegistered();
  }
}

TEST_F(ResourceLibraryTest, ServesFormsStringsAndFontUntilFreed) {
  CResourceLibrary::Free();  // harmless without Load
  ExpectNothingRegistered();
  const QString folder = QFileInfo(QStringLiteral(AE_RESOURCE_LIBRARY)).absolutePath();
  ASSERT_TRUE(CResourceLibrary::Load(folder));
  ASSERT_TRUE(CResourceLibrary::Load(folder));  // replaces itself, stacks nothing
  EXPECT_TRUE(CResourceLibrary::IsLoaded());
  EXPECT_TRUE(QFile::exists(":/dialog_143.ui"));

  // The texts exactly as written, through both ways in.
  EXPECT_EQ(CResourceLibrary::String(61476).toStdString(), "Invalid server, please enter a valid server name.");
  EXPECT_EQ(LoadResourceString(61447), "The 'Server' field must be filled in!");
  EXPECT_EQ(CResourceLibrary::String(128).toStdString(), "Corvane Plantwise OPC AE Server\n\n\n\n\n\n");
  EXPECT_EQ(CResourceLibrary::String(1003).toStdString(), " ");
  EXPECT_EQ(CResourceLibrary::String(4242).toStdString(), "");

  EXPECT_EQ(QFont::substitute(kFormFont).compare("Liberation Sans", Qt::CaseInsensitive), 0);
  EXPECT_EQ(QFontInfo(QFont(kFormFont, 8)).family().toStdString(), "Liberation Sans")
      << "is fonts-liberation2 installed?";

  CResourceLibrary::Free();
  ExpectNothingRegistered();
}

}  // namespace
