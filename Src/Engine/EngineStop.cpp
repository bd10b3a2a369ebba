// Stop and pause of a run, from any thread, and the worker's pause point.
#include <chrono>
#include <exception>

#include "Engine/FFmpeg.h"
#include "Services/Clock.h"
#include "Services/MainThread.h"

namespace tovamo {

void TCustomFFmpeg::WaitServing(TEvent& event) {
  if (!IsMainThread()) {
    event.Wait();
    return;
  }
  while (!event.WaitFor(20)) ProcessPendingMainThreadWork();
  // What the run handed over without waiting (its last log lines) before it set the event.
  ProcessPendingMainThreadWork();
}

void TCustomFFmpeg::EndRunBeforeFreeing() {
  // A worker still on its way out of the run, or a pending termination notice, uses this
  // object until it signals its event; unless this is that notice freeing its engine.
  if (FreedFromOwnNotice()) return;
  if (Running) StopRunning(true);
  WaitServing(DoneEvent);
  WaitServing(TerminateEvent);
}

void TCustomFFmpeg::StopRunning(bool wait) {
  StopRequested = true;
  {
    // A stop also ends a pause. Notified under the lock: a waiter checks the flags under it.
    std::lock_guard lock(PauseLock_);
    PauseRequested_ = false;
    PauseCond_.notify_all();
  }
  TConvertThread* unstartable = nullptr;
  bool hasThread;
  {
    std::lock_guard lock(StateLock_);
    TConvertThread* thread = Thread;
    hasThread = thread != nullptr;
    if (thread && !thread->Started()) {
      try {
        thread->Resume();
      } catch (const std::exception&) {
        unstartable = thread;
        unstartable->Started_ = true;  // nobody else may start it now
      }
    }
  }
  if (unstartable) {
    // No thread could be made for the run: end it here, with the stop already requested.
    RecordError("Cannot start the conversion thread");
    unstartable->Priority_ = tpNormal;  // the caller's thread keeps its own priority
    unstartable->Run();
    return;
  }
  if (!hasThread) IOStartTime = 0;  // cancels a blocking call in progress (IOTimeoutCheck)
  // The thread may have let go of Thread already while it still delivers its end notice:
  // DoneEvent, reset from Start until the worker's very end, is what tells.
  if (wait) WaitServing(DoneEvent);
}

void TCustomFFmpeg::Stop(bool wait) {
  bool running;
  bool deliver = false;
  {
    // Decided under the lock that Start claims the run with, so that a Start racing with
    // this either is stopped or finds the end notice already claimed.
    std::lock_guard lock(StateLock_);
    running = Running;
    if (!running && !Terminated && !TerminateClaimed_) {
      TerminateClaimed_ = true;
      deliver = true;
      TerminateEvent.Reset();  // before the thread exists, so the wait below cannot miss it
    }
  }
  if (running) {
    StopRunning(wait);
    return;
  }
  if (deliver) TDoTerminateThread::Start(this);
  if (wait) {
    WaitServing(DoneEvent);  // a run that is just handing in its end notice
    WaitServing(TerminateEvent);
  }
}

void TCustomFFmpeg::Pause() {
  {
    std::lock_guard lock(StateLock_);
    if (!Thread) return;
  }
  std::lock_guard lock(PauseLock_);
  if (!StopRequested) PauseRequested_ = true;
}

void TCustomFFmpeg::Resume() {
  {
    std::lock_guard lock(PauseLock_);
    PauseRequested_ = false;
    PauseCond_.notify_all();
  }
  std::lock_guard lock(StateLock_);
  TConvertThread* thread = Thread;
  if (thread && !thread->Started()) thread->Resume();
}

bool TCustomFFmpeg::Paused() const {
  std::lock_guard lock(PauseLock_);
  return PauseRequested_;
}

void TCustomFFmpeg::PausePoint() {
  std::unique_lock lock(PauseLock_);
  if (!PauseRequested_ || StopRequested) return;
  const std::int64_t from = MonotonicMicros();
  PauseCond_.wait(lock, [this] { return !PauseRequested_ || StopRequested; });
  PausedMicros_ += MonotonicMicros() - from;
}

void TCustomFFmpeg::HoldWhilePaused() {
  std::unique_lock lock(PauseLock_);
  PauseCond_.wait(lock, [this] { return !PauseRequested_ || StopRequested; });
}

}  // namespace tovamo
