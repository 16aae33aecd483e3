#include "bench/dbus/bench_plant.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "toolkit/cfg_db.h"
#include "toolkit/server_interface.h"
#include "toolkit/source.h"
#include "toolkit/source_cache.h"

bool OnSessionBus(int argc, char** argv) {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) return true;
  std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execvp("dbus-run-session", args.data());
  std::perror("dbus-run-session");
  return false;
}

bool InitializeLevelToolkit(const CLSID& clsid) {
  if (!g_ServerInterface.Initialize(nullptr, clsid, "bench", '/', 0)) return false;
  g_CfgDb.Insert(AE_CFG_CATEGORIES, CAECfgRecCategory(1, "A", OPC_CONDITION_EVENT));
  g_CfgDb.Insert(AE_CFG_CONDITIONS, CAECfgRecCondition("Level", 1));
  return true;
}

std::vector<CAECondition*> AddLevelSources(const std::string& prefix, int count, int unitsOf) {
  std::vector<CAECondition*> conditions;
  for (int i = 0; i < count; ++i) {
    std::string area = unitsOf > 0 ? prefix + "Unit" + std::to_string(i % unitsOf) + "/" : prefix;
    auto* source = new CAESource(area + "N1_FIC" + std::to_string(i) + ".A", 1);
    CAECondition level(source, "Level", 1);
    level.AddSubcondition(CAESubcondition("Hi", "NOT IMPL", 600, "high"));
    conditions.push_back(source->AddCondition(level));
    g_SourceCache.AddSource(source);
  }
  return conditions;
}
