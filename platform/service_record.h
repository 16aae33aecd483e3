// ServiceRecord: one service of the service database (part of
// platform/services): its key under HKLM\SYSTEM\CurrentControlSet\Services
// with the Windows values, and the record of its process in the key's
// subkey "Process" (ProcessId, Identity, ReportedState, WaitHint,
// CheckPoint, StopRequested), which makes its state the same for every
// process that looks.
//
// Contract: a record holds its key open; once the key has been deleted
// (by anyone) Gone() is true and reads fail with ERROR_KEY_DELETED. Every
// read-modify-write of records happens under the "services" StoreLock,
// which the caller holds. Not thread-safe: one thread uses a record at a
// time.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/services.h"

class ServiceRecord {
 public:
  // What is recorded of a started service's process.
  struct Process {
    DWORD pid = 0;  // 0: never started, or the start was undone
    std::string identity;
    DWORD reportedState = 0;  // 0 until the program reports
    DWORD waitHint = 0;
    DWORD checkPoint = 0;
    bool stopRequested = false;
  };

  static constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";
  // How long a program that reports nothing is start-pending.
  static constexpr DWORD kInitialWaitHintMs = 2000;

  // A service name: 1 to 256 characters, neither "/" nor "\".
  static bool ValidName(const char* name);
  // The service `name`: ERROR_SERVICE_DOES_NOT_EXIST when its key is
  // missing or has no "Type".
  static LONG Open(const std::string& name, std::unique_ptr<ServiceRecord>& out);
  // Its key, created when missing; `created` tells which. The key is a
  // service once "Type" is written.
  static LONG Create(const std::string& name, std::unique_ptr<ServiceRecord>& out, bool& created);

  ServiceRecord(const ServiceRecord&) = delete;
  ServiceRecord& operator=(const ServiceRecord&) = delete;
  ~ServiceRecord();

  const std::string& Name() const { return name_; }
  HKEY Key() const { return key_; }
  bool Gone() const;
  bool MarkedForDelete() const;
  // The "Type" value as last read (kept for a record that is gone).
  DWORD Type() const { return type_; }
  LONG ReadType();

  LONG ReadProcess(Process& process) const;
  LONG WriteProcess(const Process& process);
  LONG ClearProcess();

  // The state now, from the process record and the process itself.
  SERVICE_STATUS_PROCESS ReadStatus() const;
  // Deletes the key when the service is marked for deletion and its
  // process has ended; true when the service is gone now.
  bool ReapIfDone();
  // Deletes the key with everything below it.
  LONG Delete();

 private:
  ServiceRecord(std::string name, HKEY key) : name_(std::move(name)), key_(key) {}

  std::string name_;
  HKEY key_;
  DWORD type_ = 0;
};
