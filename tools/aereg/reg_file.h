// The .reg text format: export of a key with its subtree, and import.
//
// Export writes UTF-8: "Windows Registry Editor Version 5.00", then each key
// as [HKEY_...\path] followed by its values ("name"="text", @= for the
// default value, dword:0000003c, hex:01,02 for binary, hex(N): with the
// value's bytes for the other types, multi-strings as NUL-separated UTF-8).
// Import reads that, REGEDIT4 files, and UTF-16LE files as regedit writes
// them; [-key] deletes a key with its subtree, "name"=- a value. A file is
// parsed whole before anything changes: a syntax error, or a [-root] that
// would delete a whole root key, changes nothing.
#pragma once

#include <string>

#include "tools/aereg/key_path.h"

// The .reg text of `key` and its subtree.
LONG ExportKey(const KeyPath& key, std::string& text);

// Applies a .reg file's text. On a syntax error returns false with `error`
// naming the line; on a registry failure returns false with the failing
// key and the Win32 message.
bool ImportRegText(const std::string& text, std::string& error);
