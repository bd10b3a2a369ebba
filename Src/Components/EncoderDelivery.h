// What the encoder shares with its delivery threads: the delivered flag that orders the end
// of a batch after the last task's notice, and the count of threads still running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "Engine/FFmpeg.h"

namespace tovamo {

class TFFEncoder;

// A single delivered flag lets the end of a batch overtake a notice of another task that
// is still being handled when two tasks end together; a count of notices in delivery keeps
// the end of the batch after all of them.
struct TDeliveryState {
  std::mutex Lock;
  std::condition_variable Changed;
  int Pending = 0;          // per-task notices started and not yet handled
  int Threads = 0;          // delivery threads alive
  int Calling = 0;          // handlers running on delivery threads
  unsigned Generation = 0;  // bumped when the owner detaches its handlers
};

// Runs handler(sender, info) on a thread of its own that frees itself. With waitDelivered
// (the end of a batch) it first waits until no per-task notice is in delivery; otherwise it
// counts as one until its handler has returned. A thread whose handlers were detached
// before it called does not call.
void StartDeliveryThread(std::shared_ptr<TDeliveryState> state,
                         std::function<void(TFFEncoder*, const TTerminateInfo&)> handler,
                         TFFEncoder* sender, const TTerminateInfo& info, bool waitDelivered);

// True on a delivery thread that delivers for `state`.
bool OnDeliveryThreadOf(const TDeliveryState* state);

// Waits until no delivery thread of `state` runs but the calling one (serving the main
// thread's queue meanwhile when called there).
void WaitForDeliveryThreads(TDeliveryState& state);

// Makes later calls of the running threads skip their handler, and waits for the handlers
// already running on other threads to return.
void DetachDeliveryHandlers(TDeliveryState& state);

}  // namespace tovamo
