// aesvc: the service manager from the command line, like sc.exe.
//   aesvc query [NAME]
//   aesvc start NAME [ARGUMENTS...]
//   aesvc stop NAME
//   aesvc create NAME binPath= COMMAND [type= own|share] [start= auto|demand|disabled] [OPTIONS...]
//   aesvc config NAME [OPTION= VALUE...]
//   aesvc delete NAME
// Exit status: 0 done, 1 the operation failed (message on stderr), 2 bad
// arguments (usage on stderr).
#include <iostream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/services.h"
#include "tools/aesvc/service_options.h"
#include "tools/aesvc/status_text.h"

namespace {

constexpr int kOk = 0, kFailed = 1, kBadArguments = 2;

const char kUsage[] =
    "Usage:\n"
    "  aesvc query [NAME]\n"
    "  aesvc start NAME [ARGUMENTS...]\n"
    "  aesvc stop NAME\n"
    "  aesvc create NAME binPath= COMMAND [OPTION= VALUE...]\n"
    "  aesvc config NAME [OPTION= VALUE...]\n"
    "  aesvc delete NAME\n"
    "\n"
    "  Options of create and config (the value follows \"OPTION=\" as the next argument):\n"
    "  binPath=      the command line: the program's path, then its arguments\n"
    "  type=         own (default) | share\n"
    "  start=        demand (default) | auto | disabled\n"
    "  error=        normal (default) | ignore | severe | critical\n"
    "  DisplayName=  the display name (default: NAME)\n"
    "  obj=          the account (default: LocalSystem)\n"
    "  group=        the load-order group\n"
    "  depend=       the services it depends on, separated by /\n";

int BadArguments(const std::string& why) {
  std::cerr << "ERROR: Invalid syntax. " << why << "\n\n" << kUsage;
  return kBadArguments;
}

int Failed(const char* call) {
  DWORD err = GetLastError();
  std::cerr << "[SC] " << call << " FAILED " << err << ":\n\n" << Win32ErrorText(LONG(err)) << "\n\n";
  return kFailed;
}

int Succeeded(const char* call) {
  std::cout << "[SC] " << call << " SUCCESS\n";
  return kOk;
}

std::string DisplayName(const std::string& name) {
  std::string display;
  if (RegGetString(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\CurrentControlSet\\Services\\") + name, "DisplayName",
                   display) != ERROR_SUCCESS)
    display = name;
  return display;
}

// Owns the manager and, once opened, the service.
class Session {
 public:
  ~Session() {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }
  bool OpenManager(DWORD access) { return (manager_ = OpenSCManager(nullptr, nullptr, access)) != nullptr; }
  bool Open(const std::string& name, DWORD access) {
    return OpenManager(SC_MANAGER_CONNECT) && (service_ = OpenService(manager_, name.c_str(), access)) != nullptr;
  }
  void Adopt(SC_HANDLE service) { service_ = service; }
  SC_HANDLE Manager() const { return manager_; }
  SC_HANDLE Service() const { return service_; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

int Query(const std::vector<std::string>& args) {
  if (args.size() > 1) return BadArguments("query takes at most one service name.");
  Session session;
  if (args.empty()) {
    if (!session.OpenManager(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE)) return Failed("OpenSCManager");
    std::vector<ENUM_SERVICE_STATUS_PROCESS> services;
    if (!EnumServicesStatusEx(session.Manager(), SERVICE_WIN32, SERVICE_STATE_ALL, services))
      return Failed("EnumServicesStatusEx");
    for (const ENUM_SERVICE_STATUS_PROCESS& s : services)
      std::cout << "\n" << StatusText(s.serviceName, s.displayName, s.status);
    return kOk;
  }
  if (!session.Open(args[0], SERVICE_QUERY_STATUS)) return Failed("OpenService");
  SERVICE_STATUS_PROCESS status;
  if (!QueryServiceStatusEx(session.Service(), &status)) return Failed("QueryServiceStatus");
  std::cout << "\n" << StatusText(args[0], DisplayName(args[0]), status);
  return kOk;
}

int Start(const std::vector<std::string>& args) {
  if (args.empty()) return BadArguments("start needs a service name.");
  Session session;
  if (!session.Open(args[0], SERVICE_START | SERVICE_QUERY_STATUS)) return Failed("OpenService");
  std::vector<const char*> arguments;
  for (size_t i = 1; i < args.size(); ++i) arguments.push_back(args[i].c_str());
  if (!StartService(session.Service(), DWORD(arguments.size()), arguments.data())) return Failed("StartService");
  SERVICE_STATUS_PROCESS status;
  if (!QueryServiceStatusEx(session.Service(), &status)) return Failed("QueryServiceStatus");
  std::cout << "\n" << StatusText(args[0], DisplayName(args[0]), status);
  return kOk;
}

int Stop(const std::vector<std::string>& args) {
  if (args.size() != 1) return BadArguments("stop needs one service name.");
  Session session;
  if (!session.Open(args[0], SERVICE_STOP | SERVICE_QUERY_STATUS)) return Failed("OpenService");
  SERVICE_STATUS control;
  if (!ControlService(session.Service(), SERVICE_CONTROL_STOP, &control)) return Failed("ControlService");
  SERVICE_STATUS_PROCESS status;
  if (!QueryServiceStatusEx(session.Service(), &status)) return Failed("QueryServiceStatus");
  std::cout << "\n" << StatusText(args[0], DisplayName(args[0]), status);
  return kOk;
}

int Create(const std::vector<std::string>& args) {
  if (args.empty()) return BadArguments("create needs a service name.");
  ServiceOptions options;
  std::string error;
  if (!ParseServiceOptions({args.begin() + 1, args.end()}, options, error)) return BadArguments(error);
  if (!options.binaryPath) return BadArguments("create needs binPath= COMMAND.");
  Session session;
  if (!session.OpenManager(SC_MANAGER_CREATE_SERVICE)) return Failed("OpenSCManager");
  auto orDefault = [](DWORD value, DWORD otherwise) { return value == SERVICE_NO_CHANGE ? otherwise : value; };
  SC_HANDLE service = CreateService(
      session.Manager(), args[0].c_str(), ServiceOptions::Text(options.displayName), SERVICE_ALL_ACCESS,
      orDefault(options.type, SERVICE_WIN32_OWN_PROCESS), orDefault(options.start, SERVICE_DEMAND_START),
      orDefault(options.errorControl, SERVICE_ERROR_NORMAL), options.binaryPath->c_str(),
      ServiceOptions::Text(options.group), nullptr, ServiceOptions::Text(options.dependencies),
      ServiceOptions::Text(options.account), ServiceOptions::Text(options.password));
  if (!service) return Failed("CreateService");
  session.Adopt(service);
  return Succeeded("CreateService");
}

int Config(const std::vector<std::string>& args) {
  if (args.empty()) return BadArguments("config needs a service name.");
  ServiceOptions options;
  std::string error;
  if (!ParseServiceOptions({args.begin() + 1, args.end()}, options, error)) return BadArguments(error);
  Session session;
  if (!session.Open(args[0], SERVICE_CHANGE_CONFIG)) return Failed("OpenService");
  if (!ChangeServiceConfig(session.Service(), options.type, options.start, options.errorControl,
                           ServiceOptions::Text(options.binaryPath), ServiceOptions::Text(options.group), nullptr,
                           ServiceOptions::Text(options.dependencies), ServiceOptions::Text(options.account),
                           ServiceOptions::Text(options.password), ServiceOptions::Text(options.displayName)))
    return Failed("ChangeServiceConfig");
  return Succeeded("ChangeServiceConfig");
}

int Delete(const std::vector<std::string>& args) {
  if (args.size() != 1) return BadArguments("delete needs one service name.");
  Session session;
  if (!session.Open(args[0], SERVICE_DELETE)) return Failed("OpenService");
  if (!DeleteService(session.Service())) return Failed("DeleteService");
  return Succeeded("DeleteService");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return BadArguments("No command.");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "query") return Query(args);
  if (command == "start") return Start(args);
  if (command == "stop") return Stop(args);
  if (command == "create") return Create(args);
  if (command == "config") return Config(args);
  if (command == "delete") return Delete(args);
  return BadArguments("Unknown command " + command + ".");
}
