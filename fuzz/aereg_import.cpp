// aereg import of a .reg file (tools/aereg/reg_file.h) into the registry
// store of the fuzz process. A file refused for its syntax must leave the
// store as it was; a file taken must leave a store whose export imports
// again, into an empty store, to the same export (what a backup and its
// restore rely on). The store is emptied after every run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_sandbox.h"
#include "tools/aereg/key_path.h"
#include "tools/aereg/reg_file.h"

namespace {

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "aereg_import: %s\n", what.c_str());
  std::abort();
}

const KeyPath kRoots[] = {{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", ""},
                          {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", ""}};

// Both roots in one file: the second export without its header line.
std::string ExportAll() {
  std::string all;
  for (const KeyPath& root : kRoots) {
    std::string text;
    LONG err = ExportKey(root, text);
    if (err != ERROR_SUCCESS) Broken("export of " + root.rootName + ": " + Win32ErrorText(err));
    all += all.empty() ? text : text.substr(text.find('\n') + 1);
  }
  return all;
}

void ClearStore() {
  for (const KeyPath& root : kRoots) {
    std::string name;
    DWORD type;
    while (RegEnumKeyEx(root.root, 0, name) == ERROR_SUCCESS) {
      LONG err = RegDeleteTree(root.root, name);
      if (err != ERROR_SUCCESS) Broken("cannot delete " + name + ": " + Win32ErrorText(err));
    }
    while (RegEnumValue(root.root, 0, name, &type) == ERROR_SUCCESS) {
      LONG err = RegDeleteValue(root.root, name);
      if (err != ERROR_SUCCESS) Broken("cannot delete value " + name + ": " + Win32ErrorText(err));
    }
  }
}

bool IsSyntaxError(const std::string& error) {
  return error.rfind("line ", 0) == 0 || error.rfind("not a registry script", 0) == 0;
}

std::string g_empty;  // the export of the empty store

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzSandbox();
  ClearStore();  // the store comes with HKLM\SOFTWARE\Classes
  g_empty = ExportAll();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  bool taken = ImportRegText(text, error);
  std::string imported = ExportAll();
  if (!taken && IsSyntaxError(error) && imported != g_empty)
    Broken("a refused file changed the store: " + error + "\n" + g_empty + "---\n" + imported);
  if (taken) {
    ClearStore();
    if (!ImportRegText(imported, error)) Broken("the export does not import again: " + error + "\n" + imported);
    std::string again = ExportAll();
    if (again != imported) Broken("the export imported again differs:\n" + imported + "---\n" + again);
  }
  ClearStore();
  return 0;
}
