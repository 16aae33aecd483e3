// aeconfig: checks a plant's configuration documents before they are
// deployed, by importing them exactly as the server does.
//
//   aeconfig check [--hidden] DIR
//
// Prints one line per alarm source the import builds (source_listing.h),
// then "sources: N" and "result: 0xXXXXXXXX NAME", with "source build: N
// (TEXT)" before the result when an import that succeeded built no
// sources. The import runs as with the server's main window visible (a
// document that does not load ends it, and its message box text goes to
// stderr), or with --hidden as with the window hidden (such a producer is
// skipped without a word). Exit status: 0 the import succeeded, 1 it failed
// (or could not be run), 2 usage.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/message_box_sink.h"
#include "alarmconfig/resource_string_table.h"
#include "alarmconfig/string_ids.h"
#include "alarmconfig/tracked_mutex.h"
#include "opcda/connection_manager.h"
#include "platform/resource_strings.h"
#include "platform/sysinfo.h"
#include "ralto/config_server.h"
#include "toolkit/source_cache.h"
#include "tools/aeconfig/directory_config_server.h"
#include "tools/aeconfig/source_listing.h"

namespace fs = std::filesystem;

namespace {

constexpr char kStringsFile[] = "aeconfig-strings.xml";

int Usage() {
  std::fprintf(stderr,
               "usage: aeconfig check [--hidden] DIR\n"
               "  Imports the configuration documents of DIR (ConfigurationSummary.xml and\n"
               "  ProducedData_<id>.xml) as aeserver does and lists the alarm sources.\n"
               "  --hidden  import as with the server's window hidden: a producer whose\n"
               "            document does not load is skipped instead of ending the import\n");
  return 2;
}

// Message boxes of the import, as text on stderr.
class CStderrMessageSink : public CMessageBoxSink {
 public:
  void ShowMessageBox(const std::string& text, MessageBoxIcon) override {
    std::string shown = text;
    for (size_t at = shown.find('\n'); at != std::string::npos; at = shown.find('\n', at + 3))
      shown.replace(at, 1, "\n  ");
    std::fprintf(stderr, "aeconfig: message box: %s\n", shown.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] != "check") return Usage();
  bool hidden = false;
  std::string directory;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--hidden" && !hidden) {
      hidden = true;
    } else if (directory.empty() && !args[i].empty() && args[i][0] != '-') {
      directory = args[i];
    } else {
      return Usage();
    }
  }
  if (directory.empty()) return Usage();
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) {
    std::fprintf(stderr, "aeconfig: %s is not a directory\n", directory.c_str());
    return 1;
  }
  directory = fs::absolute(directory, ec).string();

  std::string programDirectory = GetProgramFolder();
  CResourceStringTable strings;
  std::string error;
  if (strings.Load((fs::path(programDirectory) / kStringsFile).string(), &error)) {
    strings.Install();
  } else {
    std::fprintf(stderr, "aeconfig: no message texts (%s)\n", error.c_str());
  }

  HRESULT hr;
  ComPtr<IClassFactory> real = LoadConfigServerClass(programDirectory, &hr);
  if (!real) {
    std::fprintf(stderr, "aeconfig: the configuration server %s cannot be loaded: 0x%08X\n",
                 kRaltoConfigServerProgId, static_cast<unsigned>(hr));
    return 1;
  }
  ComPtr<IClassFactory> redirect = MakeDirectoryConfigServerClass(real, directory, &hr);
  DWORD cookie = 0;
  if (SUCCEEDED(hr))
    hr = CoRegisterClassObject(CLSID_RaltoConfigServer, redirect.Get(), CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) {
    std::fprintf(stderr, "aeconfig: cannot register the configuration server: 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }

  CStderrMessageSink messages;
  SetMessageBoxSink(&messages);
  g_bInteractive = hidden ? 0 : 1;

  ConnectionManager manager;
  g_pConnectionManager = &manager;
  std::optional<SourceBuildResult> build;  // only after an import that succeeded
  {
    TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
    manager.client = std::make_unique<C_OPC_DA_Client>();
    hr = manager.client->ImportConfiguration(false);
    if (hr == S_OK) {
      std::string serverName = LoadResourceString(kStringDefaultServer);
      build = BuildSourcesForVariable(serverName.empty() ? "Brixham.RaltoOPC" : serverName);
      manager.lastSourceBuildResult = *build;
    }

    std::vector<std::string> lines;
    for (const CAESourcePtr& source : g_SourceCache.Snapshot()) {
      if (auto* derived = dynamic_cast<CDerivedSource*>(source.Get())) lines.push_back(SourceLine(*derived));
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    std::printf("sources: %zu\n", lines.size());
    if (build && *build != kSourceBuildOk)
      std::printf("source build: %d (%s)\n", static_cast<int>(*build), SourceBuildResultText(*build));
    std::string name = ResultName(hr);
    std::printf("result: 0x%08X%s%s\n", static_cast<unsigned>(hr), name.empty() ? "" : " ", name.c_str());
    manager.client.reset();
  }
  g_pConnectionManager = nullptr;
  SetMessageBoxSink(nullptr);
  CoRevokeClassObject(cookie);
  g_SourceCache.Clear(1);
  return hr == S_OK ? 0 : 1;
}
