// Hand-over of calls to the program's main thread. Workers queue a call and either wait for
// it (RunInMainThread) or go on at once (PostToMainThread); the main thread serves the queue
// from its event loop (a GUI installs a wake hook that posts an event to itself) and from
// any loop in which it waits for a worker. The queue is served in the order it was filled.
#pragma once

#include <functional>

namespace tovamo {

// The main thread is the process's initial thread unless another one is named here
// (a test runner or a front end that owns its loop on another thread).
void SetMainThread();
bool IsMainThread();

// Runs fn on the main thread and returns when it has run. On the main thread it runs at
// once. An exception thrown by fn is passed back to the caller.
void RunInMainThread(const std::function<void()>& fn);

// Queues fn for the main thread and returns at once, without waiting for the main thread
// (on the main thread too: fn then runs when the queue is next served). One thread's posted
// calls run in the order it posted them, in line with the calls it ran through
// RunInMainThread. An exception thrown by fn has nobody to reach and is dropped. For work
// that a thread may hand over while it holds a lock the main thread could be waiting for.
void PostToMainThread(std::function<void()> fn);

// Runs every queued call (main thread only; elsewhere it does nothing). Returns how many ran.
int ServeMainThreadQueue();

// Called (on the queueing thread) whenever a call has been queued, so that an event loop
// can wake up and call ServeMainThreadQueue. Empty = no hook.
void SetMainThreadWakeHook(std::function<void()> hook);

// Called by ProcessPendingMainThreadWork after serving the queue: a GUI passes its own
// "process pending window events" here, so waits on the main thread keep the windows alive.
void SetProcessMessagesHook(std::function<void()> hook);

// What a main thread does in each slice of a wait: serve the queue, then the hook above.
void ProcessPendingMainThreadWork();

// Blocks the calling main thread until at least one call is queued or timeoutMs passes,
// then serves the queue. For a command-line front end's own loop.
int WaitAndServeMainThreadQueue(int timeoutMs);

}  // namespace tovamo
