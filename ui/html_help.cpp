#include "ui/html_help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "platform/path_text.h"
#include "platform/registry.h"

namespace {

const char* const kInstallDetailsKey = "Software\\Quillan\\Loomhall\\InstallDetails\\System Server";
const char* const kVendorKey = "SOFTWARE\\Veltrocorp";
const char* const kHelpLocationValue = "CorvaneHelpLocation";
constexpr DWORD kHelpLocationBytes = 260;
const char* const kLanguageFolder = "1033/Corvane Plantwise/Help";
const char* const kIndexPage = "index.html";

// The installed documentation folder, with its "/" at the end.
std::string DocumentationFolder() {
  const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/aeserver"));
  return EnsureTrailingBackslash(folder.toStdString());
}

bool KeyOpens(const std::string& subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, subKey, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The value read into a buffer of 260 bytes; "" when the key, the value or
// the read fails (a longer value does not fit) or the value is no text.
std::string HelpLocation() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVendorKey, KEY_READ, &key) != ERROR_SUCCESS) return {};
  BYTE buffer[kHelpLocationBytes] = {};
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  const LONG result = RegQueryValueEx(key, kHelpLocationValue, &type, buffer, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  std::string text(reinterpret_cast<const char*>(buffer), size);
  return text.substr(0, text.find('\0'));
}

}  // namespace

std::string HelpFolder() {
  if (KeyOpens(kInstallDetailsKey)) return DocumentationFolder() + kLanguageFolder;
  std::string folder = HelpLocation();
  folder = folder.empty() ? DocumentationFolder() : EnsureTrailingBackslash(folder);
  return folder + kLanguageFolder;
}

std::string HelpFilePath() { return EnsureTrailingBackslash(HelpFolder()) + kIndexPage; }

bool HtmlHelpW(const std::string& file, uint32_t command, uint32_t data) {
  QString page;
  if (command == HH_DISPLAY_TOPIC) {
    page = QString::fromStdString(file);
  } else if (command == HH_HELP_CONTEXT) {
    page = QFileInfo(QString::fromStdString(file)).dir().filePath(QStringLiteral("context-%1.html").arg(data));
  } else {
    return false;
  }
  if (!QFileInfo(page).isFile()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}
