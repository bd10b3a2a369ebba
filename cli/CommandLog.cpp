#include "CommandLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Services/FFLog.h"
#include "Services/LogFormat.h"
#include "Services/SameFile.h"

namespace tovamo::cli {

namespace {

// Whether the file's first 4 KiB hold a NUL byte: no text log does, every video does.
bool HoldsBinary(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool binary = false;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    char head[4096];
    const ssize_t got = ::read(fd, head, sizeof head);
    binary = got > 0 && std::memchr(head, '\0', std::size_t(got)) != nullptr;
  }
  ::close(fd);
  return binary;
}

// An argument as a shell would need it: quoted when it holds anything but plain characters,
// control characters shown as escapes ("\x0a") so that the header stays one line.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "abcdefghijklmnopqrstuvwxyz"
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789-_./=:,+@%") == std::string::npos;
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      quoted += escape;
    } else {
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
  }
  return quoted + "'";
}

std::string HeaderLine(const std::vector<std::string>& arguments) {
  char when[64] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %z", &local);
  std::string line = std::string("==== ") + when + " tovamo-convert";
  for (const std::string& argument : arguments) line += " " + ShellWord(argument);
  return line + "\n";
}

}  // namespace

std::string LogFileRefusal(const std::string& logPath, const std::vector<std::string>& inputs,
                           const std::vector<std::string>& outputs,
                           const std::vector<std::string>& images) {
  if (logPath.empty()) return {};
  struct TRole {
    const std::vector<std::string>& Names;
    const char* What;
  };
  for (const TRole& role : {TRole{inputs, "one of the files to convert"},
                            TRole{outputs, "one of the outputs"}, TRole{images, "the disc image"}})
    if (const int at = TSameFileIndex(role.Names).IndexOf(logPath); at >= 0)
      return "--log " + logPath + ": it is " + role.What + " (" + role.Names[std::size_t(at)] +
             "); the log needs a file of its own";
  if (HoldsBinary(logPath))
    return "--log " + logPath +
           ": the file exists and is not a text log (it holds NUL bytes); it is left as it is";
  return {};
}

TCommandLog::~TCommandLog() {
  if (!File_ && !ToStandardError_) return;
  DefaultLogger()->SetOnLog(nullptr);
  std::lock_guard lock(Lock_);
  if (File_) std::fclose(File_);
  File_ = nullptr;
}

std::string TCommandLog::Start(const std::string& path, bool toStandardError,
                               const std::vector<std::string>& arguments) {
  if (!path.empty()) {
    // Added to, never emptied: a log of earlier runs, or a file named by mistake, keeps
    // what it holds.
    File_ = std::fopen(path.c_str(), "ae");
    if (!File_) return "cannot write the log " + path + ": " + std::strerror(errno);
    Write(HeaderLine(arguments));
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
