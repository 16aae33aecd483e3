#include "ralto/config_document_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <new>
#include <utility>

#include "platform/registry.h"
#include "platform/sysinfo.h"
#include "ralto/config_server.h"

namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The bundled example plant, found from where this library lies rather than
// from where it was built, so that a build or an installation may move:
// beside the library (the build copies it there), else in the share folder
// of the prefix the library is installed under. When neither exists, the
// latter, which then answers RALTO_E_NO_CONFIGURATION.
std::string BundledPlantDirectory() {
  namespace fs = std::filesystem;
  fs::path library = GetModulePath(reinterpret_cast<const void*>(&BundledPlantDirectory));
  fs::path folder = library.parent_path();
  fs::path beside = folder / "examples" / "plant";
  if (IsDirectory(beside.string())) return beside.string();
  return (folder.parent_path() / "share" / "aeserver" / "examples" / "plant").string();
}

HRESULT FromErrno(int err) { return err == EACCES || err == EPERM ? E_ACCESSDENIED : RALTO_E_READ_FAILED; }

// The whole file at `path`; `missing` when it does not exist.
HRESULT ReadWholeFile(const std::string& path, HRESULT missing, std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? missing : FromErrno(errno);
  HRESULT hr = S_OK;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    hr = RALTO_E_READ_FAILED;
  } else {
    try {
      text.resize(static_cast<size_t>(st.st_size));
      size_t done = 0;
      // A file that grows meanwhile is read up to its size at open; one that
      // shrinks ends early and is cut there.
      while (done < text.size()) {
        ssize_t n = read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          hr = FromErrno(errno);
          break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
      }
      text.resize(done);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  close(fd);
  if (FAILED(hr)) text.clear();
  return hr;
}

}  // namespace

CConfigDocumentStore::CConfigDocumentStore(std::string directory) : directory_(std::move(directory)) {}

HRESULT CConfigDocumentStore::DirectoryFromRegistry(std::string& directory) {
  std::string value;
  LONG err = RegGetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, value);
  if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) return REGDB_E_READREGDB;
  directory = value.empty() ? BundledPlantDirectory() : value;
  return S_OK;
}

HRESULT CConfigDocumentStore::Read(LONG kind, LONG id, std::string& text) const {
  text.clear();
  if (!IsDirectory(directory_)) return RALTO_E_NO_CONFIGURATION;
  if (Exists(PathOf(kRaltoEditLockFileName))) return RALTO_E_CONFIG_EDITING;
  HRESULT hr;
  if (kind == RALTO_DOC_CONFIGURATION_SUMMARY) {
    hr = ReadWholeFile(PathOf(kRaltoSummaryFileName), RALTO_E_DOCUMENT_NOT_FOUND, text);
  } else {
    std::string name = kRaltoProducedDataPrefix + std::to_string(static_cast<uint32_t>(id)) +
                       kRaltoProducedDataSuffix;
    hr = ReadWholeFile(PathOf(name), RALTO_E_UNKNOWN_PRODUCER, text);
  }
  static constexpr char kBom[] = "\xEF\xBB\xBF";
  if (SUCCEEDED(hr) && text.starts_with(kBom)) text.erase(0, 3);
  return hr;
}

std::string CConfigDocumentStore::PathOf(const std::string& fileName) const {
  return directory_.ends_with('/') ? directory_ + fileName : directory_ + "/" + fileName;
}
