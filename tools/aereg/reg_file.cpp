#include "tools/aereg/reg_file.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <vector>

#include "platform/utf.h"

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string HexBytes(const std::string& bytes) {
  std::string out;
  char hex[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, i ? ",%02x" : "%02x", static_cast<unsigned char>(bytes[i]));
    out += hex;
  }
  return out;
}

std::string ValueData(DWORD type, const std::string& bytes) {
  if (type == REG_SZ && bytes.find_first_of("\r\n") == std::string::npos)
    return Quote(bytes.substr(0, bytes.find('\0')));
  if (type == REG_DWORD && bytes.size() == 4) {
    DWORD v = static_cast<unsigned char>(bytes[0]) | static_cast<unsigned char>(bytes[1]) << 8 |
              static_cast<unsigned char>(bytes[2]) << 16 | DWORD(static_cast<unsigned char>(bytes[3])) << 24;
    char text[32];
    std::snprintf(text, sizeof text, "dword:%08x", v);
    return text;
  }
  if (type == REG_BINARY) return "hex:" + HexBytes(bytes);
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
  return prefix + HexBytes(bytes);
}

LONG ExportTree(const KeyPath& path, HKEY key, std::string& text) {
  text += "[" + path.Display() + "]\n";
  std::string name;
  for (DWORD i = 0;; ++i) {
    DWORD type;
    LONG err = RegEnumValue(key, i, name, &type);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err != ERROR_SUCCESS) return err;
    std::string bytes;
    err = ReadValue(key, name, type, bytes);
    if (err != ERROR_SUCCESS) return err;
    text += (name.empty() ? "@" : Quote(name)) + "=" + ValueData(type, bytes) + "\n";
  }
  text += "\n";
  for (DWORD i = 0;; ++i) {
    LONG err = RegEnumKeyEx(key, i, name);
    if (err == ERROR_NO_MORE_ITEMS) break;
    if (err != ERROR_SUCCESS) return err;
    HKEY child;
    err = RegOpenKeyEx(key, name, KEY_READ, &child);
    if (err == ERROR_SUCCESS) {
      err = ExportTree(path.Child(name), child, text);
      RegCloseKey(child);
    }
    if (err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

struct Operation {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind;
  KeyPath key;
  std::string name;
  DWORD type = REG_NONE;
  std::string data;  // Windows form
};

// Reads a quoted string at text[pos] (pos on the opening quote).
bool ReadQuoted(const std::string& text, size_t& pos, std::string& out) {
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < text.size()) c = text[++pos];
    out += c;
  }
  return false;
}

bool ReadHexBytes(const std::string& text, std::string& out) {
  out.clear();
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (digits.empty()) continue;
    } else if (isxdigit(static_cast<unsigned char>(c)) && digits.size() < 2) {
      digits += c;
      continue;
    } else {
      return false;
    }
    out += char(std::stoul(digits, nullptr, 16));
    digits.clear();
  }
  if (!digits.empty()) out += char(std::stoul(digits, nullptr, 16));
  return true;
}

bool ParseData(const std::string& data, bool utf16, Operation& op) {
  if (data == "-") {
    op.kind = Operation::kDeleteValue;
    return true;
  }
  op.kind = Operation::kSetValue;
  if (!data.empty() && data[0] == '"') {
    size_t pos = 0;
    std::string text;
    if (!ReadQuoted(data, pos, text) || pos != data.size()) return false;
    op.type = REG_SZ;
    op.data = text + '\0';
    return true;
  }
  if (data.rfind("dword:", 0) == 0) {
    std::string hex = data.substr(6);
    if (hex.empty() || hex.size() > 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    DWORD v = DWORD(std::stoul(hex, nullptr, 16));
    op.type = REG_DWORD;
    op.data.assign(reinterpret_cast<const char*>(&v), 4);
    return true;
  }
  std::string bytes;
  if (data.rfind("hex:", 0) == 0) {
    op.type = REG_BINARY;
    bytes = data.substr(4);
  } else if (data.rfind("hex(", 0) == 0) {
    size_t close = data.find("):");
    if (close == std::string::npos || close == 4) return false;
    std::string number = data.substr(4, close - 4);
    if (number.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos || number.size() > 8) return false;
    op.type = DWORD(std::stoul(number, nullptr, 16));
    bytes = data.substr(close + 2);
  } else {
    return false;
  }
  if (!ReadHexBytes(bytes, op.data)) return false;
  bool text = op.type == REG_SZ || op.type == REG_EXPAND_SZ || op.type == REG_MULTI_SZ;
  if (utf16 && text) op.data = Utf16LeToUtf8(op.data);
  return true;
}

// The logical lines of the file: regedit continues long hex data with a
// trailing "\" and an indented next line.
std::vector<std::pair<int, std::string>> LogicalLines(const std::string& text) {
  std::vector<std::pair<int, std::string>> lines;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool continues = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (continues) {
      size_t start = line.find_first_not_of(" \t");
      lines.back().second += start == std::string::npos ? "" : line.substr(start);
    } else {
      lines.emplace_back(number, line);
    }
    std::string& current = lines.back().second;
    continues = !current.empty() && current.back() == '\\' && current.find("=hex") != std::string::npos;
    if (continues) current.pop_back();
  }
  return lines;
}

bool Parse(const std::string& text, bool utf16, std::vector<Operation>& ops, std::string& error) {
  bool headerSeen = false;
  bool haveKey = false;
  KeyPath key;
  for (const auto& [number, raw] : LogicalLines(text)) {
    size_t start = raw.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    std::string line = raw.substr(start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    auto fail = [&, n = number](const std::string& what) {
      error = "line " + std::to_string(n) + ": " + what;
      return false;
    };
    if (!headerSeen) {
      if (line != kHeader && line != kHeader4) return fail("not a registry script (no \"" + std::string(kHeader) + "\")");
      headerSeen = true;
      continue;
    }
    if (line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail("a key name must end with ']'");
      bool remove = line.size() > 1 && line[1] == '-';
      std::string name = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
      if (!ParseKeyPath(name, key)) return fail("unknown root key in \"" + name + "\"");
      // As `delete` refuses it: a whole hive would go without a word.
      if (remove && key.subKey.empty()) return fail("a root key cannot be deleted (" + key.rootName + ")");
      ops.push_back({remove ? Operation::kDeleteKey : Operation::kCreateKey, key, {}, REG_NONE, {}});
      haveKey = !remove;
      continue;
    }
    if (!haveKey) return fail("a value outside any key");
    Operation op{Operation::kSetValue, key, {}, REG_NONE, {}};
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (line[0] != '"' || !ReadQuoted(line, pos, op.name)) {
      return fail("a value name must be quoted or @");
    }
    size_t equals = line.find_first_not_of(" \t", pos);
    if (equals == std::string::npos || line[equals] != '=') return fail("'=' expected after the value name");
    std::string data = line.substr(equals + 1);
    data.erase(0, data.find_first_not_of(" \t"));
    if (!ParseData(data, utf16, op)) return fail("data not understood: " + data);
    ops.push_back(std::move(op));
  }
  if (!headerSeen) return error = "not a registry script (empty)", false;
  return true;
}

}  // namespace

LONG ExportKey(const KeyPath& path, std::string& text) {
  HKEY key;
  LONG err = RegOpenKeyEx(path.root, path.subKey, KEY_READ, &key);
  if (err != ERROR_SUCCESS) return err;
  text = std::string(kHeader) + "\n\n";
  err = ExportTree(path, key, text);
  RegCloseKey(key);
  return err;
}

bool ImportRegText(const std::string& raw, std::string& error) {
  bool utf16 = raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE';
  std::string text = utf16 ? Utf16LeToUtf8(raw.substr(2)) : raw;
  if (!utf16 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<Operation> ops;
  if (!Parse(text, utf16, ops, error)) return false;

  for (const Operation& op : ops) {
    LONG err = ERROR_SUCCESS;
    HKEY key;
    switch (op.kind) {
      case Operation::kCreateKey:
        err = RegCreateKeyEx(op.key.root, op.key.subKey, KEY_ALL_ACCESS, &key, nullptr);
        if (err == ERROR_SUCCESS) RegCloseKey(key);
        break;
      case Operation::kDeleteKey:
        err = RegDeleteTree(op.key.root, op.key.subKey);
        if (err == ERROR_FILE_NOT_FOUND) err = ERROR_SUCCESS;
        break;
      case Operation::kSetValue:
      case Operation::kDeleteValue:
        err = RegOpenKeyEx(op.key.root, op.key.subKey, KEY_ALL_ACCESS, &key);
        if (err != ERROR_SUCCESS) break;
        if (op.kind == Operation::kSetValue) {
          err = RegSetValueEx(key, op.name, op.type, reinterpret_cast<const BYTE*>(op.data.data()),
                              DWORD(op.data.size()));
        } else {
          err = RegDeleteValue(key, op.name);
          if (err == ERROR_FILE_NOT_FOUND) err = ERROR_SUCCESS;
        }
        RegCloseKey(key);
        break;
    }
    if (err != ERROR_SUCCESS) {
      error = op.key.Display() + (op.name.empty() ? "" : " (" + op.name + ")") + ": " + Win32ErrorText(err);
      return false;
    }
  }
  return true;
}
