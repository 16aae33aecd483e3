// The resource library: loaded from a folder, it serves the forms, the
// string table and the forms' font; anything short of a whole library is
// refused with nothing left registered; Free undoes it all.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontInfo>
#include <QTemporaryDir>

#include "platform/resource_strings.h"
#include "ui/resource_library.h"
#include "ui_test_support.h"

namespace {

const QString kForm = QStringLiteral(":/dialog_143.ui");
const QString kFormFont = QStringLiteral("MS Sans Serif");

QString BuiltLibraryFolder() { return QFileInfo(QStringLiteral(AE_RESOURCE_LIBRARY)).absolutePath(); }

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

  void ExpectNothingRegistered() {
    EXPECT_FALSE(CResourceLibrary::IsLoaded());
    EXPECT_FALSE(QFile::exists(kForm));
    EXPECT_EQ(CResourceLibrary::String(61476).toStdString(), "before");
    EXPECT_TRUE(QFont::substitutes(kFormFont).isEmpty());
  }
};

TEST_F(ResourceLibraryTest, RefusesAFolderWithoutTheLibrary) {
  QTemporaryDir empty;
  ASSERT_TRUE(empty.isValid());
  EXPECT_FALSE(CResourceLibrary::Load(empty.path()));
  ExpectNothingRegistered();
  EXPECT_FALSE(CResourceLibrary::Load(empty.path() + "/missing"));
  ExpectNothingRegistered();
}

TEST_F(ResourceLibraryTest, RefusesAFileThatIsNoLibrary) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  QFile file(folder.filePath(CResourceLibrary::kFileName));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("MZ this is not a resource library\n");
  file.close();
  EXPECT_FALSE(CResourceLibrary::Load(folder.path()));
  ExpectNothingRegistered();

  // Unreadable: present but closed to its reader.
  ASSERT_TRUE(QFile::copy(QStringLiteral(AE_RESOURCE_LIBRARY), folder.filePath("copy.ENU")));
  ASSERT_TRUE(QFile::remove(file.fileName()));
  ASSERT_TRUE(QFile::rename(folder.filePath("copy.ENU"), file.fileName()));
  ASSERT_TRUE(QFile::setPermissions(file.fileName(), QFileDevice::Permissions()));
  if (!QFileInfo(file.fileName()).isReadable()) {  // root reads everything
    EXPECT_FALSE(CResourceLibrary::Load(folder.path()));
    ExpectNothingRegistered();
  }
}

TEST_F(ResourceLibraryTest, RefusesALibraryWhoseStringTableIsDamaged) {
  EXPECT_FALSE(CResourceLibrary::Load(QStringLiteral(AE_BROKEN_LIBRARY_DIR)));
  ExpectNothingRegistered();
  EXPECT_FALSE(QFile::exists(":/strings.xml")) << "the damaged library stayed registered";
}

TEST_F(ResourceLibraryTest, ServesFormsStringsAndTheFormsFont) {
  ASSERT_TRUE(CResourceLibrary::Load(BuiltLibraryFolder()));
  EXPECT_TRUE(CResourceLibrary::IsLoaded());
  EXPECT_TRUE(QFile::exists(kForm));

  // The texts exactly as the table holds them, through both ways in.
  EXPECT_EQ(CResourceLibrary::String(61476).toStdString(), "Invalid server, please enter a valid server name.");
  EXPECT_EQ(LoadResourceString(61447), "The 'Server' field must be filled in!");
  EXPECT_EQ(CResourceLibrary::String(128).toStdString(), "Corvane Plantwise OPC AE Server\n\n\n\n\n\n");
  EXPECT_EQ(CResourceLibrary::String(1003).toStdString(), " ");
  EXPECT_EQ(CResourceLibrary::String(61468).toStdString(),
            "Error parsing configuration summary from Ralto configuration server:  \n%1");
  EXPECT_EQ(CResourceLibrary::String(4242).toStdString(), "");

  EXPECT_EQ(QFont::substitute(kFormFont).compare("Liberation Sans", Qt::CaseInsensitive), 0)
      << QFont::substitute(kFormFont).toStdString();
  QFont formFont(kFormFont, 8);
  EXPECT_EQ(QFontInfo(formFont).family().toStdString(), "Liberation Sans") << "is fonts-liberation2 installed?";
}

TEST_F(ResourceLibraryTest, FreeUndoesLoadAndIsHarmlessAlone) {
  CResourceLibrary::Free();
  ExpectNothingRegistered();

  ASSERT_TRUE(CResourceLibrary::Load(BuiltLibraryFolder()));
  // Loading again replaces the library without stacking it.
  ASSERT_TRUE(CResourceLibrary::Load(BuiltLibraryFolder()));
  CResourceLibrary::Free();
  ExpectNothingRegistered();
  CResourceLibrary::Free();
  ExpectNothingRegistered();
}

}  // namespace
