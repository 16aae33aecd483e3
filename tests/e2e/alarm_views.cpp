#include "alarm_views.h"

#include <chrono>
#include <regex>
#include <sstream>

#include "process_fixture.h"
#include "toolkit/dbus/dbus_client.h"

namespace {

// The plant's state texts (docs/ralto-sim.md) as the server's subconditions.
const std::map<std::string, std::string> kSubconditions = {
    {"lolo", "LoLo"}, {"lo", "Lo"}, {"hi", "Hi"}, {"hihi", "HiHi"}, {"rocd", "RoCD"}, {"rocu", "RoCU"}, {"alarm", "Bit"}};
const std::map<std::string, std::string> kSuffixes = {{"level", "A"}, {"roc", "ROC"}, {"bit", "Bit"}};

std::string Field(const std::string& line, const std::string& name) {
  std::smatch m;
  std::regex text("\"" + name + "\":\"([^\"]*)\"");
  if (std::regex_search(line, m, text)) return m[1];
  std::regex bare("\"" + name + "\":([a-z0-9]+)");
  return std::regex_search(line, m, bare) ? std::string(m[1]) : std::string();
}

}  // namespace

bool PlantActiveAlarms(std::map<std::string, std::string>& alarms, std::string* error) {
  alarms.clear();
  ProgramResult r = RunProgram(std::string(BIN_DIR) + "/ralto-sim", {"blocks", "--json"});
  if (r.exitCode != 0) {
    if (error) *error = r.out + r.err;
    return false;
  }
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    auto sub = kSubconditions.find(Field(line, "state"));
    if (sub == kSubconditions.end()) continue;  // normal
    std::string block = Field(line, "block");   // NODE.BLOCK
    size_t dot = block.find('.');
    std::string name = block.substr(0, dot) + "_" + block.substr(dot + 1);
    for (char& c : name) c = c == '.' ? '_' : c;
    alarms[name + "." + kSuffixes.at(Field(line, "kind"))] = sub->second;
  }
  return true;
}

bool RefreshEvents(std::vector<ONEVENTSTRUCT>& events, std::string* error) {
  events.clear();
  std::string why;
  std::unique_ptr<CAEDBusClient> client = CAEDBusClient::Connect(kServerProgId, AeDBusBus::kSession, &why);
  bool last = false;
  auto onEvents = [&](BOOL refresh, BOOL lastRefresh, const std::vector<ONEVENTSTRUCT>& batch) {
    if (!refresh) return;
    events.insert(events.end(), batch.begin(), batch.end());
    if (lastRefresh) last = true;
  };
  if (!client || client->Subscribe(0, 0, CAEDBusClient::Filter(), onEvents) != S_OK ||
      client->Refresh() != S_OK) {
    if (error) *error = client ? client->LastError() : why;
    return false;
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!last && std::chrono::steady_clock::now() < end && client->Pump(100)) {
  }
  if (!last && error) *error = "no last refresh";
  return last;
}

std::map<std::string, std::string> ActiveAlarms(const std::vector<ONEVENTSTRUCT>& events) {
  std::map<std::string, std::string> alarms;
  for (const ONEVENTSTRUCT& e : events) {
    if (e.wNewState & OPC_CONDITION_ACTIVE) alarms[SourceTail(e.szSource)] = e.szSubconditionName;
  }
  return alarms;
}

std::string SourceTail(const std::string& source) {
  size_t slash = source.rfind('/');
  return slash == std::string::npos ? source : source.substr(slash + 1);
}
