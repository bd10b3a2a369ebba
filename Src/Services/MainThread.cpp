#include "Services/MainThread.h"

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace tovamo {
namespace {

// One call a worker waits for. It lives on the worker's stack: the worker does not return
// before Done is set, and Done is set (and signalled) under the dispatcher's lock.
struct TCall {
  const std::function<void()>* Fn;
  std::exception_ptr Error;
  bool Done = false;
  std::condition_variable Finished;
};

// A queue entry: a call somebody waits for, or a posted call the queue owns.
struct TEntry {
  TCall* Waited = nullptr;
  std::function<void()> Posted;
};

struct TDispatcher {
  std::mutex Lock;
  std::condition_variable Queued;  // signalled whenever a call is queued
  std::deque<TEntry> Queue;
  std::function<void()> WakeHook;
  std::function<void()> ProcessMessagesHook;
  std::atomic<pid_t> MainTid{getpid()};
};

// Never destroyed: a worker may still hand over a call while the program's static objects
// are being torn down.
TDispatcher& Dispatcher() {
  static TDispatcher* d = new TDispatcher;
  return *d;
}

pid_t ThisThread() {
  static thread_local const pid_t tid = gettid();
  return tid;
}

void Enqueue(TDispatcher& d, TEntry entry) {
  std::function<void()> wake;
  {
    std::lock_guard lock(d.Lock);
    d.Queue.push_back(std::move(entry));
    wake = d.WakeHook;
  }
  d.Queued.notify_all();
  if (wake) wake();
}

}  // namespace

void SetMainThread() {
  Dispatcher().MainTid.store(ThisThread());
}

bool IsMainThread() {
  return ThisThread() == Dispatcher().MainTid.load();
}

void RunInMainThread(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  TDispatcher& d = Dispatcher();
  TCall call;
  call.Fn = &fn;
  Enqueue(d, TEntry{&call, {}});
  {
    std::unique_lock lock(d.Lock);
    call.Finished.wait(lock, [&] { return call.Done; });
  }
  if (call.Error) std::rethrow_exception(call.Error);
}

void PostToMainThread(std::function<void()> fn) {
  if (!fn) return;
  Enqueue(Dispatcher(), TEntry{nullptr, std::move(fn)});
}

int ServeMainThreadQueue() {
  if (!IsMainThread()) return 0;
  TDispatcher& d = Dispatcher();
  // Calls are taken one at a time from the shared queue rather than as a private batch: a
  // call may itself wait for a worker while serving the queue, and that worker's call must
  // then be reachable. Only as many calls as were queued on entry run here, so that calls
  // queued again and again cannot keep the main thread in this loop.
  std::size_t budget;
  {
    std::lock_guard lock(d.Lock);
    budget = d.Queue.size();
  }
  int ran = 0;
  while (budget-- > 0) {
    TEntry entry;
    {
      std::lock_guard lock(d.Lock);
      if (d.Queue.empty()) break;
      entry = std::move(d.Queue.front());
      d.Queue.pop_front();
    }
    ++ran;
    if (!entry.Waited) {
      try {
        entry.Posted();
      } catch (...) {
        // The poster has gone on; there is nobody to hand the failure to.
      }
      continue;
    }
    TCall* call = entry.Waited;
    std::exception_ptr error;
    try {
      (*call->Fn)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(d.Lock);
      call->Error = std::move(error);  // the caller alone owns the exception from here
      call->Done = true;
      // Signalled under the lock: once the worker sees Done it may return and free `call`.
      call->Finished.notify_one();
    }
  }
  return ran;
}

void SetMainThreadWakeHook(std::function<void()> hook) {
  TDispatcher& d = Dispatcher();
  std::lock_guard lock(d.Lock);
  d.WakeHook = std::move(hook);
}

void SetProcessMessagesHook(std::function<void()> hook) {
  TDispatcher& d = Dispatcher();
  std::lock_guard lock(d.Lock);
  d.ProcessMessagesHook = std::move(hook);
}

void ProcessPendingMainThreadWork() {
  if (!IsMainThread()) return;
  ServeMainThreadQueue();
  TDispatcher& d = Dispatcher();
  std::function<void()> hook;
  {
    std::lock_guard lock(d.Lock);
    hook = d.ProcessMessagesHook;
  }
  if (hook) hook();
}

int WaitAndServeMainThreadQueue(int timeoutMs) {
  const auto timeout = std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  if (!IsMainThread()) {
    // Nothing to serve here; still let the time pass so that a caller's loop does not spin.
    std::this_thread::sleep_for(timeout);
    return 0;
  }
  TDispatcher& d = Dispatcher();
  {
    std::unique_lock lock(d.Lock);
    if (!d.Queued.wait_for(lock, timeout, [&] { return !d.Queue.empty(); })) return 0;
  }
  return ServeMainThreadQueue();
}

}  // namespace tovamo
