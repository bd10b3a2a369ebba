// The log bridge: FFmpeg's av_log output and the program's own messages become one event,
// TFFLogger::OnLog, with a thread id, a level and one line of text.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tovamo {

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// FFmpeg level of a program level: (ordinal - 1) * 8.
int FFmpegLogLevel(TLogLevel level);
// Program level of an FFmpeg level.
TLogLevel LogLevelFromFFmpeg(int ffLevel);

// Sender, thread id (the kernel's thread id), level, one line without line break.
using TLogEvent = std::function<void(void* sender, std::uint32_t threadId, TLogLevel level,
                                     const std::string& msg)>;

class TFFLogger {
 public:
  // Becomes the global logger; asserts ("Allow creating only one instance of TFFLogger.")
  // when another one that was not auto-created still exists.
  TFFLogger();
  ~TFFLogger();
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel level);  // stores it and applies it to FFmpeg when it changes
  // "quiet", "panic", ..., "debug" in any letter case, or a decimal FFmpeg level; a bad
  // number raises EConvertError.
  void SetLogLevelByName(const std::string& name);
  void ApplyLevel();  // pushes the threshold to av_log_set_level when it is bound

  // Deliver OnLog on the main thread instead of the calling thread. Lines of other threads
  // are then queued for it (PostToMainThread) and the writer goes on at once: the handler
  // runs when the main thread serves its queue, each thread's lines in their order. The
  // sender may be gone by then, so a handler should only compare it with the objects it
  // knows. Lines of the main thread itself are delivered at once.
  bool TriggerEventInMainThread = true;

  // Thread-safe; empty clears it. Lines still queued for the main thread are dropped when
  // the handler is cleared or replaced before they are delivered.
  void SetOnLog(TLogEvent handler);
  bool HasOnLog() const;

  // Delivered when OnLog is set and level <= LogLevel, or level is llVerbose and
  // LogLevel is not llQuiet. An exception of the handler reaches the caller when the line
  // is delivered on the caller's own thread.
  void Log(void* sender, TLogLevel level, const std::string& text);
  void LogFmt(void* sender, TLogLevel level, const char* fmt, ...)
      __attribute__((format(printf, 4, 5)));
  void LogFmtV(void* sender, TLogLevel level, const char* fmt, va_list args);

  bool AutoCreated() const { return AutoCreated_; }

 private:
  // The handler lives apart from the logger so that a line already on its way to the main
  // thread can still read it (or find it cleared) after the logger itself is gone.
  struct TSink;
  struct TAutoCreate {};
  explicit TFFLogger(TAutoCreate);
  friend TFFLogger* DefaultLogger();
  friend struct TLogBridge;

  // The calling thread's own level where one is set (TThreadLogLevel), else LogLevel_.
  TLogLevel ThresholdHere() const;

  std::atomic<TLogLevel> LogLevel_;
  bool AutoCreated_ = false;
  std::shared_ptr<TSink> Sink_;
};

// The global logger; one is created (auto-created, no owner) when none exists.
TFFLogger* DefaultLogger();

// "quiet", "panic", ..., "debug" in any letter case, or a decimal FFmpeg level; a bad number
// raises EConvertError.
TLogLevel LogLevelByName(const std::string& name);

// While it lives, the lines logged on the calling thread (the program's own and the
// libraries') are filtered by `level` instead of the logger's level, so that one job's log
// level leaves the other jobs alone. The libraries' own tests of the process-wide level (a
// few debug dumps) still follow the logger's level. No level: the logger's level holds.
class TThreadLogLevel {
 public:
  explicit TThreadLogLevel(std::optional<TLogLevel> level);
  ~TThreadLogLevel();
  TThreadLogLevel(const TThreadLogLevel&) = delete;
  TThreadLogLevel& operator=(const TThreadLogLevel&) = delete;

 private:
  int Previous_;
};

// The last error line (error level or worse) the media libraries logged on the calling
// thread, whether or not a handler took it: a job's worker reads it to tell the cause of
// a failure. Empty when there was none since the last clear.
std::string ThreadLastLibraryError();
void ClearThreadLastLibraryError();
// Makes `line` the calling thread's last library error: a job whose stage failed on another
// thread reports that stage's cause.
void SetThreadLastLibraryError(const std::string& line);

// The calling thread's kernel thread id, as log events carry it.
std::uint32_t CurrentThreadId();

// While it lives, the lines logged on the calling thread (the program's own and the
// libraries') come from `source`, the input file the thread works on; empty names none.
class TThreadLogSource {
 public:
  explicit TThreadLogSource(std::string source);
  ~TThreadLogSource();
  TThreadLogSource(const TThreadLogSource&) = delete;
  TThreadLogSource& operator=(const TThreadLogSource&) = delete;

 private:
  std::string Previous_;
};

// When and where a line was logged: taken on the logging thread, so that a handler on the
// main thread still sees the writer's time, source and level.
struct TLogOrigin {
  std::chrono::system_clock::time_point Time;
  std::string Source;            // TThreadLogSource of the logging thread
  TLogLevel Threshold = llInfo;  // the level that filtered the logging thread's lines
};

// In a log handler, the origin of the line it is given; elsewhere, the calling thread's
// (now, its source, its level).
TLogOrigin DeliveredLogOrigin();

}  // namespace tovamo
