#include "toolkit/trace.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include "platform/debug.h"

CAETrace::CAETrace() = default;
CAETrace::~CAETrace() = default;

HRESULT CAETrace::Configure(int level, int toFile, const std::string& file, DWORD maxBytes) {
  if (level < 0 || level > 5) return E_INVALIDARG;
  if (level > 0 && toFile && (file.empty() || maxBytes == 0)) return E_INVALIDARG;
  std::shared_ptr<spdlog::logger> logger;
  if (level > 0 && toFile) {
    try {
      // No backup files: at the cap the file is truncated and starts again.
      auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file, maxBytes, 0);
      logger = std::make_shared<spdlog::logger>("TolkAEServerU", std::move(sink));
      logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%t] %v");
      logger->flush_on(spdlog::level::trace);
    } catch (const spdlog::spdlog_ex&) {
      return E_FAIL;
    }
  }
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
  level_.store(level);
  return S_OK;
}

void CAETrace::Write(int level, const std::string& text) {
  if (!Enabled(level)) return;
  std::lock_guard lock(mutex_);
  if (logger_) {
    logger_->info("{} {}", level, text);
  } else {
    DebugOutput(text + "\n");
  }
}
