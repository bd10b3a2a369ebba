// The relays through which the engines' notifications reach the encoder's owner. One lock
// per event kind serialises concurrent tasks, so at most one handler of a kind runs at a
// time and the shared record stays stable while it runs. Handlers are read under their
// lock, which DetachHandlers takes to clear them.
#include "Components/EncoderDelivery.h"
#include "Components/FFEncode.h"
#include "Components/PassStats.h"
#include "Components/TwoPassTask.h"
#include "Services/MainThread.h"

namespace tovamo {

void TFFEncoder::ConnectRelays(TFFmpeg& engine) {
  engine.OnProgress = [this](TCustomFFmpeg* sender, TProgressInfo* info) {
    ProgressRelay(sender, info);
  };
  engine.OnTerminate = [this](TCustomFFmpeg* sender) { TerminateRelay(sender); };
}

void TFFEncoder::ConnectHookRelays(TFFmpeg& engine, const TOutputOptions& options) {
  if (options.AudioHook)
    engine.OnAudioHook = [this](TCustomFFmpeg* sender, std::int64_t pts, void* samples, int size,
                                int sampleRate, int channels, int sampleFormat) {
      AudioRelay(sender, pts, samples, size, sampleRate, channels, sampleFormat);
    };
  if (options.VideoInputHook)
    engine.OnVideoInputHook = [this](TCustomFFmpeg* sender, THookInfo* info) {
      VideoHookRelay(OnVideoInputHook, sender, info);
    };
  if (options.VideoOutputHook)
    engine.OnVideoOutputHook = [this](TCustomFFmpeg* sender, THookInfo* info) {
      VideoHookRelay(OnVideoOutputHook, sender, info);
    };
}

void TFFEncoder::DetachHandlers() {
  {
    std::lock_guard lock(AudioLock_);
    OnAudioHook = nullptr;
  }
  {
    std::lock_guard lock(VideoLock_);
    OnVideoInputHook = nullptr;
    OnVideoOutputHook = nullptr;
  }
  // A worker holding these two may be waiting for the main thread to run its handler.
  auto clearServing = [](std::mutex& lock, auto& handler) {
    if (IsMainThread()) {
      while (!lock.try_lock()) WaitAndServeMainThreadQueue(5);
    } else {
      lock.lock();
    }
    handler = nullptr;
    lock.unlock();
  };
  clearServing(ProgressLock_, OnProgress);
  clearServing(PreviewLock_, OnPreviewBitmap);
  {
    std::lock_guard lock(TerminateLock_);
    OnTerminate = nullptr;
  }
  DetachDeliveryHandlers(*Delivery_);
}

void TFFEncoder::WaitForDeliveryThreads() {
  tovamo::WaitForDeliveryThreads(*Delivery_);
}

int TFFEncoder::TaskIndexOf(const TCustomFFmpeg* engine) const {
  return Tasks_.IndexOf(engine);
}

void TFFEncoder::ProgressRelay(TCustomFFmpeg* engine, TProgressInfo* info) {
  std::lock_guard lock(ProgressLock_);
  if (!OnProgress) return;
  ProgressInfo_ = *info;
  ProgressInfo_.TaskIndex = TaskIndexOf(engine);
  if (TwoPass_.count(ProgressInfo_.TaskIndex)) ShowPassProgress(ProgressInfo_, 2);
  DeliverProgress();
}

void TFFEncoder::DeliverProgress() {
  if (TriggerEventInMainThread && !IsMainThread()) {
    // The handler is read again on the main thread: it may have been cleared meanwhile
    // only under this lock, which this thread holds.
    RunInMainThread([this] {
      if (OnProgress) OnProgress(this, &ProgressInfo_);
    });
  } else {
    OnProgress(this, &ProgressInfo_);
  }
}

void TFFEncoder::PreviewRelay(TCustomFFmpeg* engine, void* bitmap, int frameNumber,
                              std::int64_t pts) {
  std::lock_guard lock(PreviewLock_);
  if (!OnPreviewBitmap) return;
  PreviewInfo_.TaskIndex = TaskIndexOf(engine);
  PreviewInfo_.Bitmap = static_cast<TBitmap*>(bitmap);
  PreviewInfo_.FrameNumber = frameNumber;
  PreviewInfo_.PTS = pts;
  if (TriggerEventInMainThread && !IsMainThread()) {
    RunInMainThread([this] {
      if (OnPreviewBitmap) OnPreviewBitmap(this, PreviewInfo_);
    });
  } else {
    OnPreviewBitmap(this, PreviewInfo_);
  }
}

void TFFEncoder::VideoHookRelay(const TVideoHookEvent& handler, TCustomFFmpeg* engine,
                                THookInfo* info) {
  std::lock_guard lock(VideoLock_);
  if (!handler) return;
  HookInfo_ = *info;
  HookInfo_.TaskIndex = TaskIndexOf(engine);
  handler(this, &HookInfo_);
  info->Update = HookInfo_.Update;
  info->StopHooking = HookInfo_.StopHooking;
}

void TFFEncoder::AudioRelay(TCustomFFmpeg* engine, std::int64_t pts, void* samples, int size,
                            int sampleRate, int channels, int sampleFormat) {
  std::lock_guard lock(AudioLock_);
  if (!OnAudioHook) return;
  OnAudioHook(this, TaskIndexOf(engine), pts, static_cast<std::uint8_t*>(samples), size, sampleRate,
              channels, sampleFormat);
}

void TFFEncoder::DeliverTermination(const TTerminateInfo& info, bool waitDelivered) {
  if (Threaded_ || !Working_)
    StartDeliveryThread(Delivery_, OnTerminate, this, info, waitDelivered);
  else
    OnTerminate(this, info);
}

void TFFEncoder::TerminateRelay(TCustomFFmpeg* engine) {
  std::lock_guard lock(TerminateLock_);
  // The second pass has read the first's statistics; a stop before it needs them no more.
  if (const auto twoPass = TwoPass_.find(TaskIndexOf(engine)); twoPass != TwoPass_.end())
    RemovePassStats(twoPass->second->StatsPrefix);
  if (OnTerminate) {
    TerminateInfo_.TaskIndex = TaskIndexOf(engine);
    TerminateInfo_.Finished = engine->Finished;
    TerminateInfo_.Failed = engine->ErrorFlag;
    TerminateInfo_.ErrorMessage = engine->ErrorMessage;
    TerminateInfo_.LibraryError = engine->ErrorFlag ? engine->LibraryError : std::string();
    TerminateInfo_.InputEndedEarly = engine->InputEndedEarly;
    TerminateInfo_.LeftOut = engine->LeftOut;
    DeliverTermination(TerminateInfo_, false);
  }
  bool endOfBatch = false;
  bool startNext = false;
  {
    std::lock_guard start(StartLock_);
    const int finished = ++FinishedCount_;
    if (TasksToStart_ <= 0)
      endOfBatch = finished >= Tasks_.Count();
    else
      startNext = Threaded_;
  }
  if (endOfBatch)
    RaiseEndOfBatch();
  else if (startNext)
    StartNextTask();
}

void TFFEncoder::RaiseEndOfBatch() {
  if (!OnTerminate) {
    AllTerminated_ = true;
    return;
  }
  TerminateInfo_.TaskIndex = -1;
  TerminateInfo_.Finished = true;
  TerminateInfo_.Failed = false;
  TerminateInfo_.ErrorMessage.clear();
  TerminateInfo_.LibraryError.clear();
  TerminateInfo_.InputEndedEarly = false;
  TerminateInfo_.LeftOut.clear();
  if (Threaded_ || !Working_) {
    // Announced before the thread starts, so that its handler may clear the tasks.
    AllTerminated_ = true;
    StartDeliveryThread(Delivery_, OnTerminate, this, TerminateInfo_, true);
  } else {
    OnTerminate(this, TerminateInfo_);
    AllTerminated_ = true;
  }
}

}  // namespace tovamo
