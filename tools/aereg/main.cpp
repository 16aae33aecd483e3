// aereg: the registry store from the command line, like reg.exe.
//   aereg query KEY [/v NAME | /ve] [/s]
//   aereg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   aereg delete KEY [/v NAME | /ve | /va] [/f]
//   aereg export KEY FILE [/y]
//   aereg import FILE
// Exit status: 0 done, 1 the operation failed (message on stderr), 2 bad
// arguments (usage on stderr).
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

#include "tools/aereg/key_path.h"
#include "tools/aereg/reg_file.h"

namespace {

constexpr int kOk = 0, kFailed = 1, kBadArguments = 2;
const char kSuccess[] = "The operation completed successfully.\n";
const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";

const char kUsage[] =
    "Usage:\n"
    "  aereg query KEY [/v NAME | /ve] [/s]\n"
    "  aereg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "  aereg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  aereg export KEY FILE [/y]\n"
    "  aereg import FILE\n"
    "\n"
    "  KEY   HKLM, HKCU or HKCR (or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,\n"
    "        HKEY_CLASSES_ROOT), then \\subkey\\...\n"
    "  /v    the value NAME          /ve  the default value (no name)\n"
    "  /va   every value of the key  /s   query: the whole subtree\n"
    "  /t    REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY\n"
    "  /d    the data: text; a DWORD in decimal or 0x hex; binary as hex digits;\n"
    "        a multi-string with its strings separated by \\0 (or by /s SEPARATOR)\n"
    "  /f    no question before overwriting or deleting\n"
    "  /y    export: overwrite FILE without a question\n";

int BadArguments(const std::string& why) {
  std::cerr << "ERROR: Invalid syntax. " << why << "\n\n" << kUsage;
  return kBadArguments;
}

int Failed(LONG err) {
  if (err == ERROR_FILE_NOT_FOUND)
    std::cerr << kNotFound;
  else
    std::cerr << "ERROR: " << Win32ErrorText(err) << "\n";
  return kFailed;
}

// The options after the command: switches ("/s") and switches with an
// argument ("/v NAME"), any case, "-" accepted for "/"; the rest in order.
struct Options {
  std::map<std::string, std::optional<std::string>> switches;
  std::vector<std::string> positional;

  bool Has(const std::string& s) const { return switches.count(s) != 0; }
  std::string Arg(const std::string& s) const { return switches.at(s).value_or(""); }
};

bool ParseOptions(const std::vector<std::string>& args, const std::string& withArgument,
                  const std::string& flags, Options& out, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || (a[0] != '/' && a[0] != '-')) {
      out.positional.push_back(a);
      continue;
    }
    std::string name = a.substr(1);
    for (char& c : name) c = char(tolower(static_cast<unsigned char>(c)));
    bool takesArgument = withArgument.find(" " + name + " ") != std::string::npos;
    bool isFlag = flags.find(" " + name + " ") != std::string::npos;
    if (!takesArgument && !isFlag) {
      // "/tmp/x.reg" is a file; "/x" an unknown option.
      if (a.find('/', 1) == std::string::npos && a.find('.') == std::string::npos)
        return error = "Unknown option " + a + ".", false;
      out.positional.push_back(a);
      continue;
    }
    if (out.switches.count(name)) return error = "Option /" + name + " given twice.", false;
    if (takesArgument) {
      if (i + 1 >= args.size()) return error = "Option /" + name + " needs a value.", false;
      out.switches[name] = args[++i];
    } else {
      out.switches[name] = std::nullopt;
    }
  }
  return true;
}

bool Confirm(const std::string& question) {
  std::cout << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Cancelled() {
  std::cerr << "ERROR: The operation was cancelled by the user.\n";
  return kFailed;
}

std::string ShowData(DWORD type, const std::string& bytes) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) return bytes.substr(0, bytes.find('\0'));
  if (type == REG_MULTI_SZ) {
    std::string out;
    for (size_t pos = 0; pos < bytes.size();) {
      size_t end = bytes.find('\0', pos);
      if (end == std::string::npos) end = bytes.size();
      if (end == pos) break;
      out += (out.empty() ? "" : "\\0") + bytes.substr(pos, end - pos);
      pos = end + 1;
    }
    return out;
  }
  char text[16];
  if (type == REG_DWORD && bytes.size() == 4) {
    DWORD v;
    std::memcpy(&v, bytes.data(), 4);
    std::snprintf(text, sizeof text, "0x%x", v);
    return text;
  }
  std::string out;
  for (unsigned char b : bytes) {
    std::snprintf(text, sizeof text, "%02X", b);
    out += text;
  }
  return out;
}

void PrintValue(const std::string& name, DWORD type, const std::string& bytes) {
  std::cout << "    " << (name.empty() ? "(Default)" : name) << "    " << TypeName(type) << "    "
            << ShowData(type, bytes) << "\n";
}

// Prints the key's values (only `only` when given); the number printed.
LONG PrintValues(HKEY key, const std::optional<std::string>& only, int& printed) {
  printed = 0;
  std::string name, bytes;
  DWORD type;
  if (only) {
    LONG err = ReadValue(key, *only, type, bytes);
    if (err == ERROR_SUCCESS) {
      PrintValue(*only, type, bytes);
      ++printed;
    }
    return err;
  }
  for (DWORD i = 0;; ++i) {
    LONG err = RegEnumValue(key, i, name, &type);
    if (err == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (err == ERROR_SUCCESS) err = ReadValue(key, name, type, bytes);
    if (err != ERROR_SUCCESS) return err;
    PrintValue(name, type, bytes);
    ++printed;
  }
}

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key, i, name) == ERROR_SUCCESS; ++i) names.push_back(name);
  return names;
}

// /s: each key of the subtree with its values (with a value name: only the
// keys holding it). Counts the matches.
LONG QueryTree(const KeyPath& path, HKEY key, const std::optional<std::string>& only, int& matches) {
  if (only) {
    std::string bytes;
    DWORD type;
    if (ReadValue(key, *only, type, bytes) == ERROR_SUCCESS) {
      std::cout << path.Display() << "\n";
      PrintValue(*only, type, bytes);
      std::cout << "\n";
      ++matches;
    }
  } else {
    std::cout << path.Display() << "\n";
    int printed = 0;
    LONG err = PrintValues(key, std::nullopt, printed);
    if (err != ERROR_SUCCESS) return err;
    std::cout << "\n";
  }
  for (const std::string& name : SubKeys(key)) {
    HKEY child;
    if (RegOpenKeyEx(key, name, KEY_READ, &child) != ERROR_SUCCESS) continue;  // gone meanwhile
    LONG err = QueryTree(path.Child(name), child, only, matches);
    RegCloseKey(child);
    if (err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

int Query(const KeyPath& path, const Options& o) {
  if (o.Has("v") && o.Has("ve")) return BadArguments("/v and /ve exclude each other.");
  std::optional<std::string> only;
  if (o.Has("v")) only = o.Arg("v");
  if (o.Has("ve")) only = "";
  HKEY key;
  LONG err = RegOpenKeyEx(path.root, path.subKey, KEY_READ, &key);
  if (err != ERROR_SUCCESS) return Failed(err);
  std::cout << "\n";
  if (o.Has("s")) {
    int matches = 0;
    err = QueryTree(path, key, only, matches);
    if (err == ERROR_SUCCESS && only) std::cout << "End of search: " << matches << " match(es) found.\n";
  } else {
    std::cout << path.Display() << "\n";
    int printed = 0;
    err = PrintValues(key, only, printed);
    if (err == ERROR_SUCCESS) {
      std::cout << "\n";
      if (!only)
        for (const std::string& name : SubKeys(key)) std::cout << path.Child(name).Display() << "\n";
    }
  }
  RegCloseKey(key);
  return err == ERROR_SUCCESS ? kOk : Failed(err);
}

// The /d text as the bytes of a value of `type`; false when it does not fit.
bool EncodeData(DWORD type, const std::string& text, const std::string& separator, std::string& bytes) {
  switch (type) {
    case REG_DWORD: {
      if (text.empty()) return false;
      char* end = nullptr;
      bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
      unsigned long long v = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
      if (*end || v > 0xFFFFFFFFull || text[0] == '-') return false;
      DWORD d = DWORD(v);
      bytes.assign(reinterpret_cast<const char*>(&d), 4);
      return true;
    }
    case REG_BINARY:
      if (text.size() % 2 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
      bytes.clear();
      for (size_t i = 0; i < text.size(); i += 2) bytes += char(std::stoul(text.substr(i, 2), nullptr, 16));
      return true;
    case REG_MULTI_SZ: {
      bytes.clear();
      for (size_t pos = 0; pos <= text.size() && !text.empty();) {
        size_t end = text.find(separator, pos);
        if (end == std::string::npos) end = text.size();
        if (end == pos) return false;  // an empty string would end the list
        bytes += text.substr(pos, end - pos) + '\0';
        pos = end + separator.size();
      }
      bytes += '\0';
      return true;
    }
    default:
      bytes = text + '\0';
      return true;
  }
}

int Add(const KeyPath& path, const Options& o) {
  if (o.Has("v") && o.Has("ve")) return BadArguments("/v and /ve exclude each other.");
  DWORD type = REG_SZ;
  if (o.Has("t") && !TypeFromName(o.Arg("t"), type)) return BadArguments("Unknown type " + o.Arg("t") + ".");
  std::string separator = o.Has("s") ? o.Arg("s") : "\\0";
  if (separator.empty()) return BadArguments("The separator must not be empty.");
  bool setsValue = o.Has("v") || o.Has("ve") || o.Has("t") || o.Has("d");
  std::string bytes;
  if (setsValue && !EncodeData(type, o.Has("d") ? o.Arg("d") : "", separator, bytes))
    return BadArguments("The data does not fit " + TypeName(type) + ".");

  HKEY key;
  LONG err = RegCreateKeyEx(path.root, path.subKey, KEY_ALL_ACCESS, &key, nullptr);
  if (err != ERROR_SUCCESS) return Failed(err);
  if (setsValue) {
    std::string name = o.Has("v") ? o.Arg("v") : "";
    bool exists = RegQueryValueEx(key, name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (exists && !o.Has("f") && !Confirm("Value " + (name.empty() ? "(Default)" : name) + " exists, overwrite")) {
      RegCloseKey(key);
      return Cancelled();
    }
    err = RegSetValueEx(key, name, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
  }
  RegCloseKey(key);
  if (err != ERROR_SUCCESS) return Failed(err);
  std::cout << kSuccess;
  return kOk;
}

int Delete(const KeyPath& path, const Options& o) {
  if (o.Has("v") + o.Has("ve") + o.Has("va") > 1) return BadArguments("/v, /ve and /va exclude each other.");
  LONG err;
  if (!o.Has("v") && !o.Has("ve") && !o.Has("va")) {
    if (path.subKey.empty()) return BadArguments("A root key cannot be deleted.");
    HKEY probe;
    err = RegOpenKeyEx(path.root, path.subKey, KEY_READ, &probe);
    if (err != ERROR_SUCCESS) return Failed(err);
    RegCloseKey(probe);
    if (!o.Has("f") && !Confirm("Delete the registry key " + path.Display())) return Cancelled();
    err = RegDeleteTree(path.root, path.subKey);
  } else {
    HKEY key;
    err = RegOpenKeyEx(path.root, path.subKey, KEY_ALL_ACCESS, &key);
    if (err != ERROR_SUCCESS) return Failed(err);
    if (o.Has("va")) {
      if (o.Has("f") || Confirm("Delete all values under the registry key " + path.Display())) {
        std::string name;
        while (err == ERROR_SUCCESS && RegEnumValue(key, 0, name, nullptr) == ERROR_SUCCESS)
          err = RegDeleteValue(key, name);
      } else {
        RegCloseKey(key);
        return Cancelled();
      }
    } else {
      std::string name = o.Has("v") ? o.Arg("v") : "";
      err = RegQueryValueEx(key, name, nullptr, nullptr, nullptr);
      if (err == ERROR_SUCCESS && !o.Has("f") &&
          !Confirm("Delete the registry value " + (name.empty() ? "(Default)" : name))) {
        RegCloseKey(key);
        return Cancelled();
      }
      if (err == ERROR_SUCCESS) err = RegDeleteValue(key, name);
    }
    RegCloseKey(key);
  }
  if (err != ERROR_SUCCESS) return Failed(err);
  std::cout << kSuccess;
  return kOk;
}

int Export(const KeyPath& path, const std::string& file, const Options& o) {
  std::string text;
  LONG err = ExportKey(path, text);
  if (err != ERROR_SUCCESS) return Failed(err);
  if (!o.Has("y") && std::ifstream(file).good() && !Confirm("File " + file + " already exists. Overwrite"))
    return Cancelled();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "ERROR: Cannot write " << file << ".\n";
    return kFailed;
  }
  std::cout << kSuccess;
  return kOk;
}

int Import(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "ERROR: Error opening the file " << file << ".\n";
    return kFailed;
  }
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::string error;
  if (!ImportRegText(text, error)) {
    std::cerr << "ERROR: " << file << ": " << error << "\n";
    return kFailed;
  }
  std::cout << kSuccess;
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return BadArguments("No operation given.");
  std::string command = argv[1];
  for (char& c : command) c = char(tolower(static_cast<unsigned char>(c)));
  if (command == "/?" || command == "-h" || command == "--help") {
    std::cout << kUsage;
    return kOk;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  Options o;
  std::string error;
  size_t wanted;
  if (command == "query") {
    if (!ParseOptions(args, " v ", " ve s ", o, error)) return BadArguments(error);
    wanted = 1;
  } else if (command == "add") {
    if (!ParseOptions(args, " v t s d ", " ve f ", o, error)) return BadArguments(error);
    wanted = 1;
  } else if (command == "delete") {
    if (!ParseOptions(args, " v ", " ve va f ", o, error)) return BadArguments(error);
    wanted = 1;
  } else if (command == "export") {
    if (!ParseOptions(args, "", " y ", o, error)) return BadArguments(error);
    wanted = 2;
  } else if (command == "import") {
    if (!ParseOptions(args, "", "", o, error)) return BadArguments(error);
    if (o.positional.size() != 1) return BadArguments("import takes one FILE.");
    return Import(o.positional[0]);
  } else {
    return BadArguments("Unknown operation " + std::string(argv[1]) + ".");
  }
  if (o.positional.size() != wanted)
    return BadArguments(command + (wanted == 1 ? " takes one KEY." : " takes a KEY and a FILE."));
  KeyPath path;
  if (!ParseKeyPath(o.positional[0], path)) return BadArguments("Invalid key name " + o.positional[0] + ".");
  if (command == "query") return Query(path, o);
  if (command == "add") return Add(path, o);
  if (command == "delete") return Delete(path, o);
  return Export(path, o.positional[1], o);
}
