// The registry: a SQLite-backed store with the Windows model and API.
//
// Contract: keys and value names are case-insensitive (ASCII and the rest of
// Unicode, via UTF-8) and keep the case they were created with. Names are
// UTF-8; "" as value name is the key's default value. Every function returns
// a Win32 error code (platform/win32_error.h): ERROR_SUCCESS, or
// ERROR_FILE_NOT_FOUND (no such key or value), ERROR_ACCESS_DENIED (write
// through a key opened for reading; delete of a key that has subkeys),
// ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA,
// ERROR_NO_MORE_ITEMS, ERROR_KEY_DELETED (the handle's key was deleted
// meanwhile), ERROR_CANTOPEN / ERROR_CANTREAD / ERROR_CANTWRITE (the store
// cannot be opened, read or written), ERROR_BADDB (the hive file is not a
// database) and ERROR_REGISTRY_CORRUPT (it fails its integrity check). A
// damaged hive is reported once through DebugOutput with its path and left
// untouched: every call on that hive fails until it is repaired by hand.
//
// Storage: HKEY_LOCAL_MACHINE in machine.db, HKEY_CURRENT_USER in user.db,
// in $AE_REGISTRY_DIR, else $XDG_DATA_HOME/aeserver/registry, else
// ~/.local/share/aeserver/registry (read once per process, created on
// demand). HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes. Several
// processes may use the store at once; each change is atomic.
//
// Threads: any thread may call any function. An HKEY from RegOpenKeyEx or
// RegCreateKeyEx belongs to its caller, who closes it with RegCloseKey
// (predefined roots need no closing). Nothing is cached across calls: a
// value written by another process is seen by the next read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/win32_error.h"

struct RegKey;
using HKEY = struct RegKey*;
using REGSAM = DWORD;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
// The standard DELETE right. DELETE itself is a macro of <arpa/nameser.h>,
// which GLib's networking header includes.
constexpr REGSAM KEY_DELETE = 0x00010000;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens root\subKey, creating it and any missing parent. `disposition` (may
// be null) tells which. Creating needs KEY_CREATE_SUB_KEY on `root`.
// REQUIRES: result != nullptr.
LONG RegCreateKeyEx(HKEY root, const std::string& subKey, REGSAM samDesired, HKEY* result,
                    DWORD* disposition);
// Opens an existing key ("" opens root itself again). Values need
// KEY_QUERY_VALUE to be read and KEY_SET_VALUE to be written or deleted;
// subkeys need KEY_ENUMERATE_SUB_KEYS to be listed.
// REQUIRES: result != nullptr.
LONG RegOpenKeyEx(HKEY root, const std::string& subKey, REGSAM samDesired, HKEY* result);
LONG RegCloseKey(HKEY key);

// Reads a value. data == nullptr asks only the size. Strings come back as
// UTF-8 with their terminating NUL; REG_MULTI_SZ as NUL-separated strings
// ending in a double NUL; sizes count bytes. When *size is too small:
// ERROR_MORE_DATA and *size = the size needed. type and size may be null
// (size only when data is null too).
LONG RegQueryValueEx(HKEY key, const std::string& name, DWORD* type, BYTE* data, DWORD* size);
// Writes a value (replacing any of that name). A REG_DWORD needs 4 bytes;
// string data is stored up to its first NUL, so sizes with or without the
// terminator both work. A REG_MULTI_SZ is kept whole, empty strings inside
// it included, as Windows keeps it; with or without its closing NUL.
LONG RegSetValueEx(HKEY key, const std::string& name, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValue(HKEY key, const std::string& name);
// Deletes root\subKey, which must have no subkeys (else ERROR_ACCESS_DENIED).
LONG RegDeleteKey(HKEY root, const std::string& subKey);
// Deletes root\subKey with its whole subtree; subKey "" empties root itself
// (its subkeys and values) and keeps it.
LONG RegDeleteTree(HKEY root, const std::string& subKey);
// The index-th subkey (in name order) or value (in creation order), or
// ERROR_NO_MORE_ITEMS past the end. type may be null.
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string& name);
LONG RegEnumValue(HKEY key, DWORD index, std::string& name, DWORD* type);

// Conveniences: one value of root\subKey in a single call, as RegGetValue.
// A value of another type than asked gives ERROR_UNSUPPORTED_TYPE (out
// untouched); RegGetString accepts REG_SZ and REG_EXPAND_SZ (not expanded).
// The setters create the key when it is missing. RegSetMultiString refuses
// an empty string in the list (ERROR_INVALID_PARAMETER), and
// RegGetMultiString ends the list at the first one, as list readers do
// (read a list with empty strings through RegQueryValueEx).
LONG RegGetDword(HKEY root, const std::string& subKey, const std::string& value, DWORD& out);
LONG RegGetString(HKEY root, const std::string& subKey, const std::string& value, std::string& out);
LONG RegGetMultiString(HKEY root, const std::string& subKey, const std::string& value,
                       std::vector<std::string>& out);
LONG RegGetBinary(HKEY root, const std::string& subKey, const std::string& value,
                  std::vector<BYTE>& out);
LONG RegSetDword(HKEY root, const std::string& subKey, const std::string& value, DWORD data);
LONG RegSetString(HKEY root, const std::string& subKey, const std::string& value,
                  const std::string& data, DWORD type = REG_SZ);
LONG RegSetMultiString(HKEY root, const std::string& subKey, const std::string& value,
                       const std::vector<std::string>& data);
LONG RegSetBinary(HKEY root, const std::string& subKey, const std::string& value,
                  const std::vector<BYTE>& data);

// The directory holding the hive files, as decided for this process.
std::string RegistryDirectory();
