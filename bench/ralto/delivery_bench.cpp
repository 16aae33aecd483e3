// Delivery rate of the Ralto OPC DA server with 100,000 items in one group:
// how fast one item per AddItems call connects them, and how many changed
// items per second reach a sink through OnDataChange (a plain sink that
// counts). Goal: >= 200,000 items/s delivered.
//
//   bench_ralto_delivery [items]      (default 100000)
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/class_factory.h"
#include "platform/opcda.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_control.h"
#include "tests/support/plugin_registration.h"

namespace {

constexpr double kGoalItemsPerSecond = 200'000;
constexpr int kItemsPerBlock = 12;  // .AS and .RS with four elements each, .FC, .PI
constexpr int kProducers = 10;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

class CCountingSink final : public IOPCDataCallback {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_IOPCDataCallback ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }  // lives on the stack of main
  ULONG Release() override { return 1; }
  HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT*, WORD*,
                       FILETIME*, HRESULT*) override {
    items += count;
    ++calls;
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                         HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

  std::atomic<uint64_t> items{0};
  std::atomic<uint64_t> calls{0};
};

// A plant of O0C blocks with 12 items each, spread over kProducers producers.
std::vector<std::string> WritePlant(const std::string& dir, int items) {
  int blocks = (items + kItemsPerBlock - 1) / kItemsPerBlock;
  std::vector<std::string> ids;
  std::ofstream summary(dir + "/ConfigurationSummary.xml");
  summary << "<ConfigurationSummary xmlns=\"" << kRaltoConfigNamespace << "\">\n";
  for (int p = 1; p <= kProducers; ++p) {
    std::string node = "N" + std::to_string(p);
    summary << "<NodeSummary Name=\"" << node << "\" ProducerId=\"" << p
            << "\"><Document DocType=\"ProducedData\"/></NodeSummary>\n";
    std::ofstream doc(dir + "/ProducedData_" + std::to_string(p) + ".xml");
    doc << "<ProducedData xmlns=\"" << kRaltoConfigNamespace << "\"><Producer Name=\"" << node
        << "\" ProducerId=\"" << p << "\" ConfigTimeSecs=\"1\" ConfigTimeNSecs=\"0\">"
        << "<RaltoConfigExtension><BlockStructures>\n";
    for (int b = p - 1; b < blocks; b += kProducers) {
      std::string block = "B" + std::to_string(b);
      doc << "<BlockStructure Name=\"" << block << "\">";
      for (const char* member : {".AS", ".RS", ".LP", ".FC", ".PI"}) {
        doc << "<BlockSubElement Name=\"" << block << member << "\" BlockType=\"O0C\"/>";
      }
      doc << "</BlockStructure>\n";
      std::string prefix = node + "." + block;
      for (const char* word : {".AS", ".RS"}) {
        ids.push_back(prefix + word);
        for (int i = 1; i <= 4; ++i) ids.push_back(prefix + word + "[" + std::to_string(i) + "]");
      }
      ids.push_back(prefix + ".FC");
      ids.push_back(prefix + ".PI");
    }
    doc << "</BlockStructures></RaltoConfigExtension></Producer></ProducedData>\n";
  }
  summary << "</ConfigurationSummary>\n";
  return ids;
}

void Report(const char* what, uint64_t items, double seconds) {
  double rate = seconds > 0 ? double(items) / seconds : 0;
  std::printf("%-52s %8llu items in %7.3f s: %11.0f items/s, %6.2f x the goal of %.0f/s\n", what,
              static_cast<unsigned long long>(items), seconds, rate, rate / kGoalItemsPerSecond,
              kGoalItemsPerSecond);
}

}  // namespace

int main(int argc, char** argv) {
  int itemCount = argc > 1 ? std::atoi(argv[1]) : 100'000;
  if (itemCount <= 0) {
    std::fprintf(stderr, "usage: bench_ralto_delivery [items]\n");
    return 2;
  }
  std::string root = std::filesystem::temp_directory_path().string() + "/aebench.XXXXXX";
  if (!mkdtemp(root.data())) return 1;
  setenv("AE_REGISTRY_DIR", root.c_str(), 1);
  std::string plantDir = root + "/plant";
  std::filesystem::create_directories(plantDir);
  std::vector<std::string> ids = WritePlant(plantDir, itemCount);
  RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plantDir);

  CLSID clsid;
  ComPtr<IOPCServer> server;
  ComPtr<IRaltoOpcControl> control;
  if (FAILED(RegisterPlugin(RALTO_OPC_LIBRARY)) || FAILED(CLSIDFromProgID("Brixham.RaltoOPC", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, server.PutVoid())) ||
      FAILED(server.As(IID_IRaltoOpcControl, control))) {
    std::fprintf(stderr, "cannot create Brixham.RaltoOPC\n");
    return 1;
  }

  // Connect as aeserver does: an inactive group, a browse, one AddItems per item.
  auto start = Clock::now();
  OPCHANDLE group = 0;
  DWORD revised = 0;
  ComPtr<IOPCItemMgt> items;
  server->AddGroup("", false, 100, 1, nullptr, nullptr, 0x800, &group, &revised, IID_IOPCItemMgt,
                   reinterpret_cast<IUnknown**>(items.Put()));
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  ComPtr<IEnumString> names;
  server.As(IID_IOPCBrowseServerAddressSpace, browse);
  browse->ChangeBrowsePosition(OPC_BROWSE_TO, "");
  browse->BrowseOPCItemIDs(OPC_FLAT, "", VT_EMPTY, 0, names.Put());
  names.Reset();
  uint64_t added = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    OPCITEMDEF def;
    def.szItemID = ids[i].data();
    def.bActive = true;
    def.hClient = OPCHANDLE(i + 1);
    COpcTaskArray<OPCITEMRESULT> results(1);
    COpcTaskArray<HRESULT> errors(1);
    if (items->AddItems(1, &def, results.Put(), errors.Put()) == S_OK) ++added;
  }
  double connect = Seconds(start);
  std::printf("AddItems, one item per call (with the browse): %llu of %zu items in %.3f s (%.0f items/s)\n",
              static_cast<unsigned long long>(added), ids.size(), connect, double(added) / connect);

  CCountingSink sink;
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  ComPtr<IOPCGroupStateMgt> state;
  items.As(IID_IConnectionPointContainer, container);
  container->FindConnectionPoint(IID_IOPCDataCallback, point.Put());
  DWORD cookie = 0;
  point->Advise(&sink, &cookie);
  items.As(IID_IOPCGroupStateMgt, state);

  // Live: the random plant on the system clock, the update thread at 100 ms.
  control->RunRandomPlant(DWORD(itemCount) * 3, 1);
  BOOL active = true;
  state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
  while (sink.calls == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the first refresh
  uint64_t before = sink.items;
  start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  Report("live: random plant, 100 ms update rate", sink.items - before, Seconds(start));
  control->RunRandomPlant(0, 0);

  // Capacity: the update cycle alone, ticked by hand after the plant moved.
  control->SetManualUpdates(true);
  control->TickUpdates();
  control->UseManualClock(GetSystemTimeAsFileTime());
  control->RunRandomPlant(DWORD(itemCount) * 10, 2);
  uint64_t delivered = 0;
  double ticking = 0;
  for (int round = 0; round < 10; ++round) {
    control->AdvanceClock(100);
    before = sink.items;
    start = Clock::now();
    control->TickUpdates();
    ticking += Seconds(start);
    delivered += sink.items - before;
  }
  Report("capacity: update cycles ticked by hand", delivered, ticking);

  // The refresh of a group made active: every item in one OnDataChange.
  active = false;
  state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
  active = true;
  state->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
  before = sink.items;
  start = Clock::now();
  control->TickUpdates();
  Report("refresh: every item in one OnDataChange", sink.items - before, Seconds(start));

  point->Unadvise(cookie);
  point.Reset();
  container.Reset();
  state.Reset();
  items.Reset();
  server->RemoveGroup(group, true);
  control.Reset();
  server.Reset();
  std::filesystem::remove_all(root);
  return 0;
}
