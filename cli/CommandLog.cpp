#include "CommandLog.h"

#include <cerrno>
#include <cstring>

#include "Services/FFLog.h"
#include "Services/LogFormat.h"

namespace tovamo::cli {

TCommandLog::~TCommandLog() {
  if (!File_ && !ToStandardError_) return;
  DefaultLogger()->SetOnLog(nullptr);
  std::lock_guard lock(Lock_);
  if (File_) std::fclose(File_);
  File_ = nullptr;
}

std::string TCommandLog::Start(const std::string& path, bool toStandardError) {
  if (!path.empty()) {
    File_ = std::fopen(path.c_str(), "we");
    if (!File_) return "cannot write the log " + path + ": " + std::strerror(errno);
  }
  ToStandardError_ = toStandardError;
  if (!File_ && !ToStandardError_) return {};
  TFFLogger* logger = DefaultLogger();
  // Written on the thread that logs: the command's main thread is busy with the display,
  // and a line must reach the file even when the process is about to end.
  logger->TriggerEventInMainThread = false;
  logger->SetOnLog([this](void*, std::uint32_t threadId, TLogLevel level, const std::string& text) {
    Write(FormatLogLine(threadId, level, text) + "\n");
  });
  return {};
}

void TCommandLog::Write(const std::string& line) {
  std::lock_guard lock(Lock_);
  if (File_) {
    std::fputs(line.c_str(), File_);
    std::fflush(File_);
  }
  if (ToStandardError_) std::fputs(line.c_str(), stderr);
}

}  // namespace tovamo::cli
