#include "Components/EncoderDelivery.h"

#include <chrono>
#include <thread>

#include "Services/MainThread.h"

namespace tovamo {
namespace {

thread_local const TDeliveryState* tDeliveringFor = nullptr;

// Waits on the state's condition until `done`; on the main thread in short slices that
// serve its queue, since a handler being waited for may hand a call to the main thread.
template <class Predicate>
void WaitServing(TDeliveryState& state, std::unique_lock<std::mutex>& lock, Predicate done) {
  while (!done()) {
    if (!IsMainThread()) {
      state.Changed.wait(lock);
      continue;
    }
    state.Changed.wait_for(lock, std::chrono::milliseconds(5));
    if (done()) break;
    lock.unlock();
    ProcessPendingMainThreadWork();
    lock.lock();
  }
}

}  // namespace

void StartDeliveryThread(std::shared_ptr<TDeliveryState> state,
                         std::function<void(TFFEncoder*, const TTerminateInfo&)> handler,
                         TFFEncoder* sender, const TTerminateInfo& info, bool waitDelivered) {
  unsigned generation;
  {
    std::lock_guard lock(state->Lock);
    ++state->Threads;
    if (!waitDelivered) ++state->Pending;
    generation = state->Generation;
  }
  auto deliver = [state, handler = std::move(handler), sender, info, waitDelivered, generation] {
    tDeliveringFor = state.get();
    std::unique_lock lock(state->Lock);
    if (waitDelivered) state->Changed.wait(lock, [&] { return state->Pending == 0; });
    const bool call = handler && state->Generation == generation;
    if (call) ++state->Calling;
    lock.unlock();
    try {
      if (call) handler(sender, info);
    } catch (...) {
      // Nobody on this thread could catch it; the notice counts as handled.
    }
    lock.lock();
    if (call) --state->Calling;
    if (!waitDelivered) --state->Pending;
    --state->Threads;
    state->Changed.notify_all();
    lock.unlock();
    tDeliveringFor = nullptr;
  };
  try {
    std::thread(deliver).detach();
  } catch (const std::system_error&) {
    deliver();  // no thread to be had: deliver on this one
  }
}

bool OnDeliveryThreadOf(const TDeliveryState* state) {
  return tDeliveringFor == state;
}

void WaitForDeliveryThreads(TDeliveryState& state) {
  const int own = OnDeliveryThreadOf(&state) ? 1 : 0;
  std::unique_lock lock(state.Lock);
  WaitServing(state, lock, [&] { return state.Threads <= own; });
}

void DetachDeliveryHandlers(TDeliveryState& state) {
  const int own = OnDeliveryThreadOf(&state) ? 1 : 0;
  std::unique_lock lock(state.Lock);
  ++state.Generation;
  WaitServing(state, lock, [&] { return state.Calling <= own; });
}

}  // namespace tovamo
