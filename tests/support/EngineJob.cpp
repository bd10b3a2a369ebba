#include "support/EngineJob.h"
#include "support/TestTime.h"

namespace tovamo::test {

TEndWaiter::TEndWaiter(TCustomFFmpeg& engine) : Engine_(engine) {
  engine.OnTerminate = [this](TCustomFFmpeg* sender) {
    std::lock_guard lock(Lock_);
    Result_.Ended = true;
    Result_.Finished = sender->Finished;
    Result_.Error = sender->ErrorFlag;
    Result_.Message = sender->ErrorMessage;
    Cond_.notify_all();
  };
}

bool TEndWaiter::Wait(std::chrono::seconds limit) {
  std::unique_lock lock(Lock_);
  return Cond_.wait_for(lock, Generous(limit), [this] { return Result_.Ended; });
}

TJobResult TEndWaiter::Run(std::chrono::seconds limit) {
  if (Engine_.Start(true)) Engine_.Resume();
  Wait(limit);
  return Result();
}

TJobResult TEndWaiter::Result() const {
  std::lock_guard lock(Lock_);
  return Result_;
}

}  // namespace tovamo::test
