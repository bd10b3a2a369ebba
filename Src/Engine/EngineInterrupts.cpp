// The interrupt checks that cancel an engine's blocking I/O on a stop or a time-out, and
// the guard that arms them around each blocking call.
#include <cstdint>

#include "Engine/FFmpeg.h"
#include "Engine/GuardedIO.h"
#include "Services/Clock.h"
#include "Services/FFInterrupt.h"
#include "Services/MainThread.h"

namespace tovamo {
namespace {

constexpr std::int64_t kNoIO = INT64_MAX;  // IOStartTime while no blocking call runs

}  // namespace

namespace {

std::atomic<bool> gOpensCancelled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

}  // namespace

void TCustomFFmpeg::CancelAllOpens() noexcept {
  gOpensCancelled.store(true);
}

bool TCustomFFmpeg::IOTimeoutCheck(void* self, void* arg) {
  auto* engine = static_cast<TCustomFFmpeg*>(self);
  if (!engine || arg != self) return false;
  const bool cancelled = gOpensCancelled.load();
  if (!cancelled && engine->IOTimeout <= 0) return false;
  const std::int64_t start = cancelled ? 0 : std::int64_t(engine->IOStartTime);
  const std::int64_t now = MonotonicMicros();
  if (!cancelled && !(now - start > std::int64_t(engine->IOTimeout) * 1000)) return false;
  const int note = start == 0 ? 1 : 2;
  if (IsMainThread()) {
    engine->Log(llInfo, note == 1 ? "connecting/reading/writing canceled"
                                  : "connecting/reading/writing timeout");
  } else {
    // The registry's lock is held here, and a log line may wait for the main thread, which
    // may be waiting for that lock: the line is written when the guard ends.
    int expected = 0;
    engine->IOTimeoutNote_.compare_exchange_strong(expected, note);
  }
  return true;
}

bool TCustomFFmpeg::StopCheck(void* self, void* arg) {
  auto* engine = static_cast<TCustomFFmpeg*>(self);
  return engine && arg == self && engine->StopRequested && engine->LoopInputIO;
}

void TCustomFFmpeg::FlushIOTimeoutNote() {
  switch (IOTimeoutNote_.exchange(0)) {
    case 1:
      Log(llInfo, "connecting/reading/writing canceled");
      break;
    case 2:
      Log(llInfo, "connecting/reading/writing timeout");
      break;
    default:
      break;
  }
}

TGuardedIO::TGuardedIO(TCustomFFmpeg* engine) : Engine_(engine), ThreadId_(CurrentThreadId()) {
  Engine_->FlushIOTimeoutNote();
  Engine_->IOStartTime = kNoIO;
  InterruptCB()->AddCheck(ThreadId_, Engine_, {&TCustomFFmpeg::IOTimeoutCheck, Engine_});
  Arm();
}

TGuardedIO::~TGuardedIO() {
  End();
}

void TGuardedIO::Arm() {
  Engine_->IOStartTime = MonotonicMicros();
  // StopRunning writes StopRequested before it cancels through IOStartTime: either this
  // sees the request, or the cancel lands after the start time was stored.
  if (Engine_->StopRequested) Engine_->IOStartTime = 0;
}

void TGuardedIO::Restart() {
  if (!Active_) return;
  Engine_->FlushIOTimeoutNote();
  Arm();
}

void TGuardedIO::End() {
  if (!Active_) return;
  Active_ = false;
  Engine_->IOStartTime = kNoIO;
  InterruptCB()->RemoveCheck(ThreadId_, Engine_, {&TCustomFFmpeg::IOTimeoutCheck, Engine_});
  Engine_->FlushIOTimeoutNote();
}

}  // namespace tovamo
