// The configuration import on the documents of a fuzz input, served where
// the configuration server's text arrives (fuzz/support/fuzz_config_server.h
// tells the input's layout): a full import, then an incremental one per
// binding tick, into one variable store with its alarm sources, as one
// connection lives through them. After every import the store must hold
// together: each variable under its own item id, each pending variable in
// the store, and each alarm source pointing at a variable of the store (or
// at none) under the name that variable gives it. Once the store is gone,
// no source may point at anything.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_set>

#include "alarmconfig/alarm_sources.h"
#include "alarmconfig/config.h"
#include "alarmconfig/config_import.h"
#include "alarmconfig/derived_source.h"
#include "alarmconfig/message_box_sink.h"
#include "alarmconfig/resource_string_table.h"
#include "alarmconfig/source_name.h"
#include "alarmconfig/tracked_mutex.h"
#include "fuzz/support/fuzz_config_server.h"
#include "fuzz/support/fuzz_sandbox.h"
#include "store_entry_supply.h"
#include "toolkit/source_cache.h"

namespace {

class CQuietMessageSink : public CMessageBoxSink {
 public:
  void ShowMessageBox(const std::string&, MessageBoxIcon) override {}
};

CQuietMessageSink g_messages;

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "config_import: %s\n", what.c_str());
  std::abort();
}

void CheckStore(const CTestVarStore& store) {
  std::unordered_set<const AlarmVar*> variables;
  for (const auto& [itemId, variable] : store.itemMap) {
    if (itemId != variable.ItemId()) Broken("variable " + variable.ItemId() + " kept under " + itemId);
    variables.insert(&variable);
  }
  for (const auto& [itemId, variable] : store.pendingMap) {
    if (!variables.count(variable) || variable->ItemId() != itemId) Broken("pending " + itemId + " not in the store");
  }
  for (int i = 0, n = g_SourceCache.NumberOfSources(); i < n; ++i) {
    auto* source = dynamic_cast<CDerivedSource*>(g_SourceCache.GetSourceAt(i));
    if (!source || !source->Variable()) continue;
    const AlarmVar* variable = source->Variable();
    if (!variables.count(variable)) Broken("source " + source->Name() + " points outside the store");
    std::string name = BuildSourceName(SourceBaseName(*variable), source->Kind());
    if (name != source->Name()) Broken("source " + source->Name() + " of variable " + variable->ItemId() + " named " + name);
  }
}

void CheckSourcesDetached() {
  for (int i = 0, n = g_SourceCache.NumberOfSources(); i < n; ++i) {
    auto* source = dynamic_cast<CDerivedSource*>(g_SourceCache.GetSourceAt(i));
    if (source && source->Variable()) Broken("source " + source->Name() + " outlives its store");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzSandbox();
  CResourceStringTable strings;
  std::string error;
  if (!strings.Load(AE_STRINGS_XML, &error)) Broken(error);
  strings.Install();
  SetMessageBoxSink(&g_messages);
  InitEventConfiguration();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PlantInput input = ParsePlantInput(std::string_view(reinterpret_cast<const char*>(data), size));
  g_bInteractive = input.windowVisible ? 1 : 0;
  {
    CTestVarStore store;
    CStoreEntrySupply supply(store);
    for (size_t i = 0; i < input.imports.size(); ++i) {
      ServeConfigDocuments(&input.imports[i]);
      {
        TrackedMutexGuard guard(g_ConfigMutex, AE_SITE);
        ImportConfiguration(store, i > 0);
      }
      CheckStore(store);
    }
    ServeConfigDocuments(nullptr);
  }
  CheckSourcesDetached();
  g_SourceCache.Clear(1);
  g_bInteractive = 0;
  return 0;
}
