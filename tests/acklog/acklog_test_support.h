// Shared helpers of the acknowledgement log tests: sample records, folders
// and files in the test's private temporary folder; polling with a bound
// comes from tests/support.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acklog/ack_record.h"
#include "acklog/log_reader.h"
#include "tests/support/eventually.h"

// A fresh folder `name` under the test's temporary folder.
inline std::string TestFolder(const std::string& name) {
  std::string path = std::filesystem::temp_directory_path().string() + "/" + name;
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Makes folder permissions count for this thread and the threads it starts
// from now on, as they do for an ordinary user: drops the capabilities with
// which root reads and searches any folder. False if they cannot be dropped.
inline bool ObeyFolderPermissions() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[2] = {};
  if (syscall(SYS_capget, &header, caps) != 0) return false;
  caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
  return syscall(SYS_capset, &header, caps) == 0;
}

// A record whose every text tells `i` apart.
inline AckRecord SampleRecord(int i) {
  AckRecord r;
  r.ackTime = CDateTime::FromParts(2024, 5, 1, 13, 7, i % 60);
  r.area = "Area" + std::to_string(i % 3);
  r.target = "N1";
  r.variable = "LIC" + std::to_string(i) + ".AS";
  r.operatorName = "operator";
  r.comment = "comment " + std::to_string(i);
  r.message = "LIC" + std::to_string(i) + " high";
  r.condition = "Level";
  r.subcondition = "Hi";
  r.server = "PLANTPC1";
  r.result = "Success";
  return r;
}

// Every record of the log files of `folder`, unfiltered.
inline std::vector<AckRecord> RecordsIn(const std::string& folder) {
  std::vector<AckRecord> records;
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  ReadLogRecords(folder, LogFilter{}, records, *progress.Get());
  return records;
}
