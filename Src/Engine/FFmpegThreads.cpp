// The threads that run a job or deliver the end notice of a job that never ran, the
// owner's list of engines, and the manual-reset event they wait on.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <stdexcept>
#include <thread>

#include "Engine/FFmpeg.h"

namespace tovamo {

// ---- TEvent -------------------------------------------------------------------------------

// Set notifies while it holds the lock: a waiter cannot return, and so cannot destroy the
// event, before Set has stopped touching it.
void TEvent::Set() {
  std::lock_guard lock(Lock_);
  Set_ = true;
  Cond_.notify_all();
}

void TEvent::Reset() {
  std::lock_guard lock(Lock_);
  Set_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard lock(Lock_);
  return Set_;
}

void TEvent::Wait() {
  std::unique_lock lock(Lock_);
  Cond_.wait(lock, [this] { return Set_; });
}

bool TEvent::WaitFor(int milliseconds) {
  std::unique_lock lock(Lock_);
  return Cond_.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                        [this] { return Set_; });
}

// ---- TConvertThread -----------------------------------------------------------------------

namespace {

// The nice level for a priority, from the thread's current one. Only lower priorities are
// applied: raising a thread above the process needs a privilege a desktop program should
// not use against the desktop, so normal and higher priorities keep the process's level.
int NiceLevel(TThreadPriority priority, int current) {
  switch (priority) {
    case tpIdle:
      return 19;
    case tpLowest:
      return std::min(current + 10, 19);
    case tpLower:
      return std::min(current + 5, 19);
    default:
      return current;
  }
}

}  // namespace

TConvertThread::TConvertThread(TCustomFFmpeg* engine, TThreadPriority priority)
    : Engine_(engine), Priority_(priority) {}

void TConvertThread::Resume() {
  if (Started_.exchange(true)) return;
  try {
    std::thread([this] { Run(); }).detach();
  } catch (...) {
    Started_ = false;
    throw;
  }
}

void TConvertThread::Run() {
  if (Priority_ < tpNormal) {
    const id_t self = id_t(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, self);
    if (errno == 0) setpriority(PRIO_PROCESS, self, NiceLevel(Priority_, current));  // best effort
  }
  TCustomFFmpeg* engine = Engine_;
  bool engineGone;
  {
    TCustomFFmpeg::TNoticeScope notice(engine);
    try {
      engine->Execute();  // records its own errors; nothing should arrive here
    } catch (...) {
    }
    engineGone = notice.EngineGone;
  }
  if (engineGone) {  // the owner freed the engine from its end notice
    delete this;
    return;
  }
  engine->ForgetThread(this);
  // The owner may destroy the engine as soon as this is set: nothing touches it afterwards.
  engine->DoneEvent.Set();
  delete this;
}

// ---- End notices --------------------------------------------------------------------------

thread_local TCustomFFmpeg::TNoticeScope* TCustomFFmpeg::CurrentNotice_ = nullptr;

TCustomFFmpeg::TNoticeScope::TNoticeScope(TCustomFFmpeg* engine)
    : Engine(engine), Previous(CurrentNotice_) {
  CurrentNotice_ = this;
}

TCustomFFmpeg::TNoticeScope::~TNoticeScope() {
  CurrentNotice_ = Previous;
}

bool TCustomFFmpeg::FreedFromOwnNotice() {
  for (TNoticeScope* scope = CurrentNotice_; scope; scope = scope->Previous)
    if (scope->Engine == this) {
      scope->EngineGone = true;
      return true;
    }
  return false;
}

// ---- TDoTerminateThread -------------------------------------------------------------------

// The caller has reset the engine's TerminateEvent; the owner may destroy the engine as soon
// as the event is set again.
void TDoTerminateThread::Start(TCustomFFmpeg* engine) {
  auto deliver = [engine] {
    bool engineGone;
    {
      TCustomFFmpeg::TNoticeScope notice(engine);
      try {
        engine->DoTerminate();
      } catch (const std::exception& e) {
        if (!notice.EngineGone) engine->Log(llError, e.what());
      } catch (...) {
      }
      engineGone = notice.EngineGone;
    }
    if (!engineGone) engine->TerminateEvent.Set();
  };
  try {
    std::thread(deliver).detach();
  } catch (const std::system_error&) {
    deliver();  // no thread to be had: the notice still arrives, on this thread
  }
}

// ---- TFFmpegList --------------------------------------------------------------------------

TFFmpegList::~TFFmpegList() {
  Clear();
}

int TFFmpegList::Add(TCustomFFmpeg* engine) {
  Items_.emplace_back(engine);
  return int(Items_.size()) - 1;
}

void TFFmpegList::Clear() {
  // In list order; an engine stays listed while it is destroyed (its end notice may still
  // look up its index), and a destroyed one leaves a null slot until the list is emptied.
  for (auto& item : Items_) {
    delete item.get();
    item.release();
  }
  Items_.clear();
}

TCustomFFmpeg* TFFmpegList::Items(int index) const {
  if (index < 0 || std::size_t(index) >= Items_.size())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return Items_[std::size_t(index)].get();
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* engine) const {
  for (std::size_t i = 0; i < Items_.size(); ++i)
    if (Items_[i].get() == engine) return int(i);
  return -1;
}

int TFFmpegList::Count() const {
  return int(Items_.size());
}

void TFFmpegList::PauseAll() {
  for (auto& engine : Items_) engine->Pause();
}

void TFFmpegList::ResumeAll() {
  for (auto& engine : Items_) engine->Resume();
}

void TFFmpegList::StopAll(bool wait) {
  for (auto& engine : Items_) engine->Stop(wait);
}

void TFFmpegList::SetPreview(bool enable) {
  for (auto& engine : Items_) engine->SetPreviewFlag(1, enable);
}

void TFFmpegList::SetPreviewBitmap(bool enable) {
  for (auto& engine : Items_) engine->SetPreviewFlag(2, enable);
}

}  // namespace tovamo
