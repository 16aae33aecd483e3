#include "process_fixture.h"

#include <cstdlib>
#include <filesystem>

#include "acklog/ack_log_settings.h"
#include "platform/registry.h"
#include "ralto/config_server.h"
#include "ralto/opc_server.h"
#include "tests/support/eventually.h"

namespace {

const std::string kBin = BIN_DIR;
constexpr char kConnectionKey[] = "SOFTWARE\\Quillan\\Veltro QRX OPC AE\\Config Data\\Item0";
// A start on a loaded machine (or under a sanitizer) takes its time.
constexpr std::chrono::seconds kStartLimit(60);

std::string TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir ? dir : "/tmp";
}

bool StartsALine(const std::string& text, const std::string& start) {
  for (size_t at = 0; at != std::string::npos && at < text.size();) {
    if (text.compare(at, start.size(), start) == 0) return true;
    at = text.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  return false;
}

}  // namespace

void ProcessTest::SetUp() {
  std::string error;
  ASSERT_TRUE(bus_.Start(&error)) << error;
  for (const char* library : {"libralto_config.so", "libralto_opc.so"}) {
    ProgramResult reg = Tool("regsvr", {"/s", kBin + "/" + library});
    ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
  }
  // A folder of the test's own, also when one process runs several tests.
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  const std::string temp = TempDir() + "/" + test->test_suite_name() + "." + test->name();
  std::filesystem::create_directories(temp);
  plantDir_ = temp + "/plant";
  logDir_ = temp + "/AlarmLog";
  journalPath_ = temp + "/fc-writes.journal";
  std::filesystem::copy(AE_EXAMPLE_PLANT_DIR, plantDir_, std::filesystem::copy_options::recursive);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, plantDir_),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcFcJournalValue, journalPath_),
            ERROR_SUCCESS);
  ASSERT_EQ(SetLocalPath(logDir_), ERROR_SUCCESS);
  ASSERT_EQ(SetLoggingEnabled(true), ERROR_SUCCESS);
  Configure(ServerSettings());
  server_ = std::make_unique<CServerProcess>(kBin + "/aeserver", temp + "/aeserver");
}

void ProcessTest::TearDown() {
  if (!server_) return;
  if (server_->Running() && !server_->Stop(std::chrono::seconds(20))) ADD_FAILURE() << "the server did not end on SIGTERM";
  // In a sanitizer build the program's own reports go to its standard error.
  const std::string errors = server_->Errors();
  for (const char* report : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
    size_t at = errors.find(report);
    if (at != std::string::npos) ADD_FAILURE() << "the server: " << errors.substr(at, 4000);
  }
}

void ProcessTest::Configure(const ServerSettings& settings) {
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kConnectionKey, "ServerName", kRaltoOpcProgId), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kConnectionKey, "UpdateRateMS", settings.updateRateMs), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kConnectionKey, "AlarnEventBindingRate", settings.bindingRateMs),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, kRaltoOpcServerKey, kRaltoOpcRandomRateValue,
                        settings.randomChangesPerSecond),
            ERROR_SUCCESS);
}

void ProcessTest::StartServer() {
  ASSERT_TRUE(server_->Start());
  ASSERT_TRUE(WaitForBusName(kServerBusName, kStartLimit)) << server_->Errors();
  ASSERT_TRUE(AwaitStatus(kConnectedText, kStartLimit)) << server_->OutputSinceStart() << server_->Errors();
}

bool ProcessTest::AwaitStatus(const std::string& text, std::chrono::milliseconds limit, size_t from) {
  return Eventually(
      [&] {
        std::string lines = server_->OutputSinceStart();
        return from <= lines.size() && StartsALine(lines.substr(from), text + " |");
      },
      limit);
}

std::unique_ptr<CAEDBusClient> ProcessTest::Client() {
  std::string error;
  std::unique_ptr<CAEDBusClient> client = CAEDBusClient::Connect(kServerProgId, AeDBusBus::kSession, &error);
  EXPECT_TRUE(client) << error;
  if (!client) return nullptr;
  OPCEVENTSERVERSTATUS status;
  HRESULT hr = client->GetStatus(&status);
  EXPECT_EQ(hr, S_OK) << client->LastError();
  EXPECT_EQ(status.dwServerState, OPCAE_STATUS_RUNNING);
  return hr == S_OK ? std::move(client) : nullptr;
}

ProgramResult ProcessTest::Tool(const std::string& name, std::vector<std::string> args) {
  return RunProgram(kBin + "/" + name, std::move(args));
}
