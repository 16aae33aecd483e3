#include "tools/aesvc/service_options.h"

#include <map>

#include "platform/utf.h"

namespace {

constexpr char kDependencySeparator = '/';

bool Lookup(const std::map<std::string, DWORD>& names, const std::string& option, const std::string& value,
            DWORD& out, std::string& error) {
  auto found = names.find(FoldCase(value));
  if (found == names.end()) return error = "Unknown value \"" + value + "\" for " + option + "=.", false;
  out = found->second;
  return true;
}

}  // namespace

bool ParseServiceOptions(const std::vector<std::string>& args, ServiceOptions& out, std::string& error) {
  static const std::map<std::string, DWORD> kTypes{{"OWN", SERVICE_WIN32_OWN_PROCESS},
                                                   {"SHARE", SERVICE_WIN32_SHARE_PROCESS}};
  static const std::map<std::string, DWORD> kStarts{
      {"AUTO", SERVICE_AUTO_START}, {"DEMAND", SERVICE_DEMAND_START}, {"DISABLED", SERVICE_DISABLED}};
  static const std::map<std::string, DWORD> kErrors{{"IGNORE", SERVICE_ERROR_IGNORE},
                                                    {"NORMAL", SERVICE_ERROR_NORMAL},
                                                    {"SEVERE", SERVICE_ERROR_SEVERE},
                                                    {"CRITICAL", SERVICE_ERROR_CRITICAL}};
  for (size_t i = 0; i < args.size(); ++i) {
    size_t equals = args[i].find('=');
    if (equals == std::string::npos || equals == 0) return error = "Expected OPTION= VALUE, not \"" + args[i] + "\".", false;
    std::string option = args[i].substr(0, equals), value = args[i].substr(equals + 1);
    if (value.empty()) {
      if (i + 1 >= args.size()) return error = "Option " + option + "= needs a value.", false;
      value = args[++i];
    }
    std::string name = FoldCase(option);
    if (name == "TYPE") {
      if (!Lookup(kTypes, option, value, out.type, error)) return false;
    } else if (name == "START") {
      if (!Lookup(kStarts, option, value, out.start, error)) return false;
    } else if (name == "ERROR") {
      if (!Lookup(kErrors, option, value, out.errorControl, error)) return false;
    } else if (name == "BINPATH") {
      out.binaryPath = value;
    } else if (name == "GROUP") {
      out.group = value;
    } else if (name == "DEPEND") {
      std::string list;
      for (size_t pos = 0; pos <= value.size();) {
        size_t end = value.find(kDependencySeparator, pos);
        if (end == std::string::npos) end = value.size();
        if (end > pos) list += value.substr(pos, end - pos) + '\0';
        pos = end + 1;
      }
      out.dependencies = list + '\0';
    } else if (name == "OBJ") {
      out.account = value;
    } else if (name == "PASSWORD") {
      out.password = value;
    } else if (name == "DISPLAYNAME") {
      out.displayName = value;
    } else {
      return error = "Unknown option " + option + "=.", false;
    }
  }
  return true;
}
