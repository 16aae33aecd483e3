// The groups of one server object: handle, unique name and the server's
// reference to each group. Shared by the server object and its groups (a
// group outlives its server while a client holds it).
//
// Contract: Reserve takes a handle (from 1, never reused) and a name (the
// asked one, OPC_E_DUPLICATENAME when taken; "Group<n>" when empty) before
// the group exists; Attach hands the group's creation reference to the
// table, Cancel gives the reservation up. Take removes a group and hands its
// reference to the caller. Clear releases every group (the server's end).
// Every member is thread-safe; none calls into a group while holding the
// table's lock.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/filetime.h"
#include "platform/opcda.h"

class CRaltoOpcGroup;

class CRaltoGroupTable {
 public:
  HRESULT Reserve(const char* requestedName, std::string* name, OPCHANDLE* handle);
  // REQUIRES: handle reserved; group carries a reference for the table.
  void Attach(OPCHANDLE handle, CRaltoOpcGroup* group);
  void Cancel(OPCHANDLE handle);

  // Null when there is no such group.
  ComPtr<CRaltoOpcGroup> Find(const std::string& name);
  // The table's reference (caller releases), or null.
  CRaltoOpcGroup* Take(OPCHANDLE handle);
  // S_OK, OPC_E_DUPLICATENAME.
  HRESULT Rename(OPCHANDLE handle, const std::string& name);
  std::vector<std::string> Names();
  DWORD Count();
  void Clear();

  // The time of the last OnDataChange of any of the groups.
  void NoteUpdate(const FILETIME& time) { lastUpdate_.store(FileTimeToUint64(time)); }
  FILETIME LastUpdate() const { return Uint64ToFileTime(lastUpdate_.load()); }

 private:
  struct Entry {
    std::string name;
    CRaltoOpcGroup* group = nullptr;  // null while reserved
  };

  bool NameTaken(const std::string& name) const;  // REQUIRES: mutex_ held

  std::mutex mutex_;
  std::map<OPCHANDLE, Entry> groups_;
  OPCHANDLE lastHandle_ = 0;
  std::atomic<uint64_t> lastUpdate_{0};
};
