#include "setup/rtsvcsetup/ini_cleanup.h"

#include <SimpleIni.h>

namespace rtsvc {

namespace {

constexpr const char* kProtocolsSection = "Protocols";
constexpr const char* kDriversSection = "drivers";
constexpr const char* kSimulatedIoKey = "Simulated I/O";
constexpr const char* kImportFiltersSection = "ImportFilters";
constexpr const char* kTessmarkKey = "Quillan Tessmark";

}  // namespace

void CleanUpCalderIni(const char* path) {
  // Case-insensitive names, as Windows INI files have; repeated keys and
  // lines without "=" are kept, and "key=value" is written without blanks.
  CSimpleIniA ini(false, true, false);
  ini.SetAllowKeyOnly(true);
  ini.SetSpaces(false);
  if (ini.LoadFile(path) != SI_OK) return;
  bool removed = ini.Delete(kProtocolsSection, nullptr);
  removed |= ini.Delete(kDriversSection, kSimulatedIoKey);
  removed |= ini.Delete(kImportFiltersSection, kTessmarkKey);
  if (removed) ini.SaveFile(path, false);
}

}  // namespace rtsvc
