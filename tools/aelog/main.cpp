// aelog: the acknowledgement log from the command line.
//   aelog list DIR [--from DATE] [--to DATE] [--area AREA]...
// Prints the records of the log files of DIR ("AESERVLOG_*.xml": cache,
// daily and backup files) with the comments viewer's filter rules, oldest
// first, one line each: the fields separated by tabs, in the order
//   time (UTC), area, target, variable, condition, subcondition, operator,
//   comment, result, message, server
// with line breaks and tabs inside a field printed as blanks. DATE is
// YYYY-MM-DD; --to includes the whole day and nothing of the next one;
// AREA matches exactly and may be given more than once. Exit status: 0
// done, 1 DIR is not a folder, 2 bad arguments (usage on stderr).
// docs/aelog.md has examples.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "acklog/log_reader.h"

namespace {

constexpr const char* kUsage =
    "usage: aelog list DIR [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--area AREA]...\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "aelog: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// As the viewer shows a comment: "\r\n", "\r", "\n" and tabs become blanks.
std::string OneLine(std::string text) {
  size_t at;
  while ((at = text.find("\r\n")) != std::string::npos) text.replace(at, 2, " ");
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\t', ' ');
  return text;
}

void Print(const AckRecord& r) {
  const std::string fields[] = {r.ackTime.Format(), r.area,         r.target,       r.variable,
                                r.condition,        r.subcondition, r.operatorName, r.comment,
                                r.result,           r.message,      r.server};
  std::string line = OneLine(fields[0]);
  for (size_t i = 1; i < std::size(fields); ++i) line += "\t" + OneLine(fields[i]);
  std::printf("%s\n", line.c_str());
}

// Records without a valid time first, then by time; ties keep file order.
bool Earlier(const AckRecord& a, const AckRecord& b) {
  if (a.ackTime.IsValid() != b.ackTime.IsValid()) return !a.ackTime.IsValid();
  return a.ackTime.IsBefore(b.ackTime);
}

// The window is [from, to + 1 day). Times are whole seconds and the filter
// keeps its bound, so it ends at the last second of the day.
CDateTime LastSecondOf(const CDateTime& day) {
  int year, month, mday, hour, minute, second;
  if (!day.GetParts(year, month, mday, hour, minute, second)) return day;
  return CDateTime::FromParts(year, month, mday, 23, 59, 59);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() < 2 || args[0] != "list") return Usage(args.empty() ? "" : "unknown command: " + args[0]);
  const std::string& folder = args[1];
  LogFilter filter;
  for (size_t i = 2; i < args.size(); i += 2) {
    const std::string& option = args[i];
    if (option != "--from" && option != "--to" && option != "--area") return Usage("unknown option: " + option);
    if (i + 1 >= args.size()) return Usage(option + " needs a value");
    const std::string& value = args[i + 1];
    if (option == "--area") {
      filter.areas.insert(value);
      continue;
    }
    CDateTime date;
    if (!ParseDateTime(value, "%Y-%m-%d", date) || !date.IsValid()) return Usage("not a date: " + value);
    if (option == "--from")
      filter.from = date;
    else
      filter.to = LastSecondOf(date);
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    std::fprintf(stderr, "aelog: not a folder: %s\n", folder.c_str());
    return 1;
  }
  std::vector<AckRecord> records;
  ComPtr<ProgressHandle> progress = ProgressHandle::Create();
  ReadLogRecords(folder, filter, records, *progress.Get());
  std::stable_sort(records.begin(), records.end(), Earlier);
  for (const AckRecord& r : records) Print(r);
  return 0;
}
