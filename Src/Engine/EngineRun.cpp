// The engine's run: Start, Execute and DoTerminate, the worker's claim on the engine, and
// the waits the packet loop makes to keep real time.
#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

#include "Engine/FFmpeg.h"
#include "Services/Clock.h"
#include "Services/Text.h"

namespace tovamo {

bool TCustomFFmpeg::HasWorker() const {
  std::lock_guard lock(StateLock_);
  return Thread != nullptr;
}

bool TCustomFFmpeg::WorkerStarted() const {
  std::lock_guard lock(StateLock_);
  const TConvertThread* thread = Thread;
  return thread && thread->Started();
}

bool TCustomFFmpeg::Start(bool useThread, TThreadPriority priority) {
  std::string refusal;
  TConvertThread* thread = nullptr;
  {
    std::lock_guard lock(StateLock_);
    if (Running || Terminated || TerminateClaimed_) return false;
    if (!SetupError.empty())
      refusal = SetupError;
    else if (OutputFileCount <= 0)
      refusal = "At least one output file must be specified";
    else if (InputFileCount <= 0)
      refusal = "At least one input file must be specified";
    if (!refusal.empty()) {
      TerminateClaimed_ = true;  // this call delivers the end notice
    } else {
      Running = true;
      RunStarted = true;
      RunStartMicros = MonotonicMicros();
      StopRequested = false;
      Finished = false;
      Terminated = false;
      if (useThread) {
        thread = new TConvertThread(this, priority);
        // Before anyone can see the thread: a Stop(true) that follows must find it reset.
        DoneEvent.Reset();
        Thread = thread;
      }
    }
  }
  if (!refusal.empty()) {
    CloseFiles();
    ClearThreadLastLibraryError();  // the caller's earlier lines are not this job's cause
    RecordError(refusal);
    DoTerminate();
    return false;
  }
  if (!useThread) Execute();  // the end notice may free the engine: nothing follows
  return thread != nullptr;
}

void TCustomFFmpeg::RecordError(const std::string& message) {
  Log(llQuiet, message);
  ErrorFlag = true;
  ErrorMessage = message;
  // The cause is often only in the libraries' own last line ("Please check error log").
  const std::string library = ThreadLastLibraryError();
  LibraryError = library.empty() || message.find(library) != std::string::npos ? "" : library;
}

void TCustomFFmpeg::Execute() {
  // The libraries read and write numbers as text (options, dictionaries, codec opens) with
  // the C library, which follows the locale: the run works in the C locale throughout.
  TCNumericLocale numbers;
  const TThreadLogLevel jobLevel(JobLogLevel);
  const TThreadLogSource source(InputFileNames.empty() ? std::string() : InputFileNames[0]);
  // Every step runs even when an earlier one failed, so the clean-up and the end notice
  // always happen; the last failure is the one reported.
  auto guarded = [this](auto&& step) {
    try {
      step();
    } catch (const std::exception& e) {
      RecordError(e.what());
    } catch (...) {
      RecordError("Unknown error");
    }
  };
  ClearThreadLastLibraryError();
  InputEndedEarly = false;
  LeftOut.clear();
  guarded([this] { Finished = false; });
  guarded([this] { Transcode(); });
  // A run that failed inside the packet loop leaves its codecs in the open lists.
  guarded([this] { CloseCodecs(); });
  guarded([this] { CloseFiles(); });
  guarded([this] { DoTerminate(); });
}

void TCustomFFmpeg::DoTerminate() {
  // Terminated before Running drops, so that a Stop on another thread that sees the run
  // over never mistakes the engine for one that has not run.
  Terminated = true;
  Running = false;
  {
    std::lock_guard lock(StateLock_);
    Thread = nullptr;
  }
  if (EventsDetached_) return;
  // A copy: the handler may free the engine, and with it the slot it was called through.
  const TNotifyEvent handler = OnTerminate;
  if (handler) handler(this);
}

void TCustomFFmpeg::ForgetThread(TConvertThread* thread) {
  std::lock_guard lock(StateLock_);
  if (Thread == thread) Thread = nullptr;
}

void TCustomFFmpeg::WaitForRealTime(std::int64_t runStart, std::int64_t micros) {
  for (;;) {
    PausePoint();
    if (StopRequested) return;
    const std::int64_t elapsed = MonotonicMicros() - runStart - PausedMicros_;
    const std::int64_t ahead = micros - elapsed;
    if (ahead <= 1000) return;
    WaitSlice(std::min<std::int64_t>(ahead, 10000));
  }
}

void TCustomFFmpeg::WaitSlice(std::int64_t micros) {
  std::unique_lock lock(PauseLock_);
  PauseCond_.wait_for(lock, std::chrono::microseconds(micros),
                      [this] { return StopRequested || PauseRequested_; });
}

}  // namespace tovamo
