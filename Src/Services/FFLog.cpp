#include "Services/FFLog.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <utility>
#include <unordered_map>
#include <vector>

#include "Services/Exceptions.h"
#include "Services/FFBindings.h"
#include "Services/FFLoadHooks.h"
#include "Services/MainThread.h"
#include "Services/Text.h"

namespace tovamo {

namespace {

constexpr const char* kModule = "FFLog";
constexpr std::size_t kStackFormatSize = 2048;

// Formats into `stack` when the text fits, else into `heap`; the result views one of them.
// A format the C library refuses (an encoding error) comes back as the raw format text
// rather than as nothing.
std::string_view FormatV(char (&stack)[kStackFormatSize], std::string& heap, const char* fmt,
                         va_list args) {
  if (!fmt) return {};
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(stack, sizeof stack, fmt, args);
  if (n < 0) {
    va_end(again);
    return fmt;
  }
  if (std::size_t(n) < sizeof stack) {
    va_end(again);
    return {stack, std::size_t(n)};
  }
  heap.resize(std::size_t(n));
  std::vsnprintf(heap.data(), heap.size() + 1, fmt, again);
  va_end(again);
  return heap;
}

// "[name @ address]" of a context whose first member is its AVClass. Addresses print as
// sixteen upper-case hexadecimal digits, zero-padded and without "0x": the fixed-width form
// of a pointer on this platform, so that lines of one context line up and compare equal.
void AppendContextTag(std::string& out, void* ctx) {
  const AVClass* cls = *static_cast<const AVClass* const*>(ctx);
  const char* name = nullptr;
  if (cls->item_name)
    name = cls->item_name(ctx);
  else if (ff::av_default_item_name)
    name = ff::av_default_item_name(ctx);
  else
    name = cls->class_name;
  char address[2 + 16 + 2];
  std::snprintf(address, sizeof address, "%016" PRIXPTR, reinterpret_cast<std::uintptr_t>(ctx));
  out += '[';
  out += name ? name : "(null)";
  out += " @ ";
  out += address;
  out += ']';
}

// The prefix of a message from `avcl`: the parent context's tag and a space, when the class
// names a parent, then the context's own tag (no space after it).
std::string ContextPrefix(void* avcl) {
  std::string prefix;
  if (!avcl) return prefix;
  const AVClass* cls = *static_cast<const AVClass* const*>(avcl);
  if (!cls) return prefix;
  if (cls->parent_log_context_offset) {
    void* parent = *reinterpret_cast<void**>(static_cast<std::uint8_t*>(avcl) +
                                             cls->parent_log_context_offset);
    if (parent && *static_cast<const AVClass* const*>(parent)) {
      AppendContextTag(prefix, parent);
      prefix += ' ';
    }
  }
  AppendContextTag(prefix, avcl);
  return prefix;
}

}  // namespace

// The handler and the count of its changes. A line goes to the handler that was set when
// the line was written, or to nobody: a line still waiting for the main thread when the
// handler is cleared or replaced is dropped.
struct TFFLogger::TSink {
  mutable std::mutex HandlerLock_;
  TLogEvent OnLog_;
  std::uint64_t Generation_ = 0;

  void Set(TLogEvent handler) {
    std::lock_guard lock(HandlerLock_);
    OnLog_ = std::move(handler);
    ++Generation_;
  }
  bool HasHandler() const {
    std::lock_guard lock(HandlerLock_);
    return bool(OnLog_);
  }
  // The generation of the handler set now; false when none is set.
  bool CurrentGeneration(std::uint64_t& generation) const {
    std::lock_guard lock(HandlerLock_);
    generation = Generation_;
    return bool(OnLog_);
  }
  // The handler, while it is still the one of that generation; empty otherwise.
  TLogEvent HandlerOf(std::uint64_t generation) const {
    std::lock_guard lock(HandlerLock_);
    return Generation_ == generation ? OnLog_ : TLogEvent();
  }
};

// The calling thread's own log level (a TLogLevel), or none.
constexpr int kNoThreadLevel = -1;
thread_local int tThreadLevel = kNoThreadLevel;
thread_local std::string tThreadSource;
// The origin of the line whose handler runs on this thread, if one does.
thread_local const TLogOrigin* tDelivered = nullptr;

TLogOrigin OriginHere(TLogLevel threshold) {
  return {std::chrono::system_clock::now(), tThreadSource,
          tThreadLevel != kNoThreadLevel ? TLogLevel(tThreadLevel) : threshold};
}

// The state behind av_log and the global logger. Created on first use and never destroyed:
// a worker may still log while the program's static objects are torn down, and FFmpeg keeps
// the callback until the loader unloads it at the very end.
std::string& ThreadLastErrorLine() {
  static thread_local std::string line;
  return line;
}

struct TLogBridge {
  // FFmpeg units; read without the lock by every av_log call.
  std::atomic<int> Threshold{AV_LOG_INFO};

  // Text state of av_log: the last piece, its repeat count and each thread's unfinished line.
  std::mutex Lock;
  std::string LastMessage;
  int RepeatCount = 0;
  std::unordered_map<std::uint32_t, std::string> Pending;  // only threads with open lines

  std::mutex GlobalLock;
  TFFLogger* Global = nullptr;
  // Auto-created loggers replaced by a real one. They are kept, not freed: another thread may
  // have fetched one through DefaultLogger() a moment earlier and still be logging to it.
  std::vector<TFFLogger*> Retired;

  static TLogBridge& Get() {
    static TLogBridge* bridge = new TLogBridge;
    return *bridge;
  }

  // Runs the handler of that generation for each line, on the calling thread. The handler
  // is read for each line, so one that is cleared or replaced meanwhile gets no more.
  static void RunHandler(const TFFLogger::TSink& sink, std::uint64_t generation, void* sender,
                         std::uint32_t threadId, TLogLevel level, const std::string* lines,
                         std::size_t count, bool swallowErrors, const TLogOrigin& origin) {
    const TLogOrigin* outer = std::exchange(tDelivered, &origin);
    struct TRestore {
      const TLogOrigin* Outer;
      ~TRestore() { tDelivered = Outer; }
    } restore{outer};
    for (std::size_t i = 0; i < count; ++i) {
      const TLogEvent handler = sink.HandlerOf(generation);
      if (!handler) return;
      if (!swallowErrors) {
        handler(sender, threadId, level, lines[i]);
        continue;
      }
      try {
        handler(sender, threadId, level, lines[i]);
      } catch (...) {
        // The line's writer has nobody to report a failing handler to.
      }
    }
  }

  // Delivers the lines of one writer. Lines for the main thread are handed over without
  // waiting for it: the writer may hold a lock (the codec lock around every codec open logs
  // at debug level) that the main thread is waiting for, and waiting here would deadlock
  // both. The main thread serves its queue in order, so each thread's lines keep theirs.
  // A handler that fails on a handed-over line has nobody to reach; its failure is dropped.
  static void Deliver(const std::shared_ptr<TFFLogger::TSink>& sink, bool inMainThread,
                      void* sender, std::uint32_t threadId, TLogLevel level,
                      const std::string* lines, std::size_t count, bool swallowErrors,
                      TLogLevel threshold) {
    std::uint64_t generation = 0;
    if (count == 0 || !sink->CurrentGeneration(generation)) return;
    TLogOrigin origin = OriginHere(threshold);
    if (!inMainThread || IsMainThread()) {
      RunHandler(*sink, generation, sender, threadId, level, lines, count, swallowErrors, origin);
      return;
    }
    PostToMainThread([sink, generation, sender, threadId, level, origin = std::move(origin),
                      copy = std::vector<std::string>(lines, lines + count)] {
      RunHandler(*sink, generation, sender, threadId, level, copy.data(), copy.size(), true,
                 origin);
    });
  }

  void DeliverToGlobal(std::uint32_t threadId, TLogLevel level,
                       const std::vector<std::string>& lines) {
    std::shared_ptr<TFFLogger::TSink> sink;
    TFFLogger* logger;
    bool inMainThread;
    TLogLevel threshold;
    {
      std::lock_guard lock(GlobalLock);
      logger = Global;
      if (!logger) return;
      sink = logger->Sink_;
      inMainThread = logger->TriggerEventInMainThread;
      threshold = logger->LogLevel();
    }
    Deliver(sink, inMainThread, logger, threadId, level, lines.data(), lines.size(), true,
            threshold);
  }

  static void Callback(void* avcl, int ffLevel, const char* fmt, va_list args) {
    TLogBridge& b = Get();
    const int threshold = tThreadLevel != kNoThreadLevel
                              ? FFmpegLogLevel(TLogLevel(tThreadLevel))
                              : b.Threshold.load(std::memory_order_relaxed);
    if (ffLevel > threshold) return;
    try {
      b.Handle(avcl, ffLevel, fmt, args);
    } catch (...) {
      // Nothing may unwind into FFmpeg.
    }
  }

  void Handle(void* avcl, int ffLevel, const char* fmt, va_list args) {
    const std::uint32_t tid = CurrentThreadId();
    // Prefix and text depend on nothing shared, so they are made before taking the lock.
    const std::string prefix = ContextPrefix(avcl);
    char stack[kStackFormatSize];
    std::string heap;
    const std::string_view text = FormatV(stack, heap, fmt, args);

    std::vector<std::string> lines;
    {
      std::lock_guard lock(Lock);
      auto it = Pending.try_emplace(tid).first;
      std::string& pending = it->second;
      const bool freshLine = pending.empty();
      std::string piece;
      if (freshLine) {
        piece.reserve(prefix.size() + text.size());
        piece += prefix;
      }
      piece += text;
      // Only a whole line counts as a repeat: a piece that ends another piece's line must
      // still close that line, or two lines would run together.
      if (freshLine && !piece.empty() && piece.back() == '\n' && piece == LastMessage) {
        ++RepeatCount;
        Pending.erase(it);
        return;
      }
      if (RepeatCount > 0) {
        char note[64];
        std::snprintf(note, sizeof note, "    Last message repeated %d times", RepeatCount);
        lines.emplace_back(note);
        RepeatCount = 0;
      }
      pending += piece;
      LastMessage = std::move(piece);
      std::size_t start = 0;
      for (std::size_t lf; (lf = pending.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.emplace_back(pending, start, lf - start);
      pending.erase(0, start);
      if (pending.empty()) Pending.erase(it);
    }
    if (ffLevel <= AV_LOG_ERROR && !lines.empty() && !lines.back().empty())
      ThreadLastErrorLine() = lines.back();
    // Delivered after the lock is released, each thread its own lines in the order it cut
    // them, so every thread's lines keep their order.
    DeliverToGlobal(tid, LogLevelFromFFmpeg(ffLevel), lines);
  }
};

std::string ThreadLastLibraryError() {
  return ThreadLastErrorLine();
}

void ClearThreadLastLibraryError() {
  ThreadLastErrorLine().clear();
}

void SetThreadLastLibraryError(const std::string& line) {
  ThreadLastErrorLine() = line;
}

int FFmpegLogLevel(TLogLevel level) {
  return (int(level) - 1) * 8;
}

TLogLevel LogLevelFromFFmpeg(int ffLevel) {
  int x = ffLevel;
  if (x < 0) x += 7;
  if (x < -8) return llQuiet;
  if (x < 48) return TLogLevel((x >> 3) + 1);
  return llDebug;
}

std::uint32_t CurrentThreadId() {
  static thread_local const std::uint32_t tid = std::uint32_t(gettid());
  return tid;
}

TFFLogger::TFFLogger() : LogLevel_(llInfo), Sink_(std::make_shared<TSink>()) {
  TLogBridge& b = TLogBridge::Get();
  std::lock_guard lock(b.GlobalLock);
  if (b.Global && b.Global->AutoCreated_) {
    b.Retired.push_back(b.Global);
    b.Global = nullptr;
  }
  Assert(b.Global == nullptr, "Allow creating only one instance of TFFLogger.", kModule);
  LogLevel_ = LogLevelFromFFmpeg(b.Threshold.load());
  b.Global = this;
}

TFFLogger::TFFLogger(TAutoCreate)
    : LogLevel_(LogLevelFromFFmpeg(TLogBridge::Get().Threshold.load())),
      AutoCreated_(true),
      Sink_(std::make_shared<TSink>()) {}

TFFLogger::~TFFLogger() {
  {
    TLogBridge& b = TLogBridge::Get();
    std::lock_guard lock(b.GlobalLock);
    if (b.Global == this) b.Global = nullptr;
    std::erase(b.Retired, this);
  }
  // Lines still queued for the main thread are dropped, instead of calling out on behalf of
  // a logger that no longer exists.
  SetOnLog(nullptr);
}

TFFLogger* DefaultLogger() {
  TLogBridge& b = TLogBridge::Get();
  std::lock_guard lock(b.GlobalLock);
  if (!b.Global) b.Global = new TFFLogger(TFFLogger::TAutoCreate{});
  return b.Global;
}

TLogLevel TFFLogger::LogLevel() const {
  return LogLevel_.load();
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (LogLevel_.exchange(level) != level) ApplyLevel();
}

void TFFLogger::ApplyLevel() {
  if (!ff::av_log_set_level) return;
  const int threshold = FFmpegLogLevel(LogLevel_.load());
  TLogBridge::Get().Threshold.store(threshold);
  ff::av_log_set_level(threshold);
}

void TFFLogger::SetLogLevelByName(const std::string& name) {
  SetLogLevel(LogLevelByName(name));
}

TLogLevel LogLevelByName(const std::string& name) {
  static constexpr std::pair<std::string_view, int> kNames[] = {
      {"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},
      {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
      {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}};
  for (const auto& [levelName, ffLevel] : kNames) {
    if (SameTextIgnoringCase(name, levelName)) return LogLevelFromFFmpeg(ffLevel);
  }
  // A decimal integer: optional sign, digits, nothing else.
  std::size_t i = 0;
  bool negative = false;
  if (i < name.size() && (name[i] == '-' || name[i] == '+')) negative = name[i++] == '-';
  long long value = 0;
  bool ok = i < name.size();
  for (; ok && i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) ok = false;
  }
  if (ok && !negative && value > 2147483647LL) ok = false;
  if (!ok) throw EConvertError("'" + name + "' is not a valid integer value");
  return LogLevelFromFFmpeg(int(negative ? -value : value));
}

TThreadLogLevel::TThreadLogLevel(std::optional<TLogLevel> level) : Previous_(tThreadLevel) {
  if (level) tThreadLevel = int(*level);
}

TThreadLogLevel::~TThreadLogLevel() {
  tThreadLevel = Previous_;
}

TThreadLogSource::TThreadLogSource(std::string source)
    : Previous_(std::exchange(tThreadSource, std::move(source))) {}

TThreadLogSource::~TThreadLogSource() {
  tThreadSource = std::move(Previous_);
}

TLogOrigin DeliveredLogOrigin() {
  return tDelivered ? *tDelivered : OriginHere(DefaultLogger()->LogLevel());
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  Sink_->Set(std::move(handler));
}

bool TFFLogger::HasOnLog() const {
  return Sink_->HasHandler();
}

TLogLevel TFFLogger::ThresholdHere() const {
  return tThreadLevel != kNoThreadLevel ? TLogLevel(tThreadLevel) : LogLevel_.load();
}

void TFFLogger::Log(void* sender, TLogLevel level, const std::string& text) {
  const TLogLevel threshold = ThresholdHere();
  if (!(level <= threshold || (level == llVerbose && threshold != llQuiet))) return;
  TLogBridge::Deliver(Sink_, TriggerEventInMainThread, sender, CurrentThreadId(), level, &text, 1,
                      false, threshold);
}

void TFFLogger::LogFmt(void* sender, TLogLevel level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogFmtV(sender, level, fmt, args);
  va_end(args);
}

void TFFLogger::LogFmtV(void* sender, TLogLevel level, const char* fmt, va_list args) {
  const TLogLevel threshold = ThresholdHere();
  if (!(level <= threshold || (level == llVerbose && threshold != llQuiet))) return;
  if (!HasOnLog()) return;
  char stack[kStackFormatSize];
  std::string heap;
  const std::string_view text = FormatV(stack, heap, fmt, args);
  Log(sender, level, std::string(text));
}

void HookLog() {
  Assert(ff::av_log_set_callback != nullptr, "av_log_set_callback is not bound", kModule);
  Assert(ff::av_log_set_level != nullptr, "av_log_set_level is not bound", kModule);
  ff::av_log_set_callback(&TLogBridge::Callback);
  DefaultLogger()->ApplyLevel();
}

}  // namespace tovamo
