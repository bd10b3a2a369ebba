#include "StopSignals.h"

#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstdint>

#include "Authoring/ToolProcess.h"
#include "Engine/FFmpeg.h"

namespace tovamo::cli {

namespace {

// A signal this close after the first one is part of the same stop: `timeout` signals the
// command and its group at once, GNU parallel repeats TERM after 200 ms.
constexpr std::int64_t kSameStopNanos = 1'000'000'000;

std::atomic<int> g_stopSignal{0};
std::atomic<std::int64_t> g_firstAt{0};  // monotonic nanoseconds of the first signal
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "used from a signal handler");

std::int64_t MonotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
  return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void OnStopSignal(int signal) {
  const std::int64_t now = MonotonicNanos();
  int none = 0;
  if (g_stopSignal.compare_exchange_strong(none, signal)) {
    g_firstAt = now;
    // An input that is being opened (a named pipe without a writer, a slow mount) would
    // hold the stop until its time-out.
    TCustomFFmpeg::CancelAllOpens();
    return;
  }
  if (now - g_firstAt.load() < kSameStopNanos) return;
  // A later one: the default action (the process ends by that signal), and the authoring
  // tool running in its own process group ends with it.
  authoring::KillRunningTools();
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  raise(signal);
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // The stop signals are held while the handler runs, so two arriving together are
  // handled one after the other. SIGHUP (the terminal closed, the ssh session dropped) is a
  // stop like the others: ended by it, the command would leave its temporaries behind.
  for (const int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, stop);
  action.sa_flags = SA_RESTART;
  for (const int stop : {SIGINT, SIGTERM, SIGHUP}) sigaction(stop, &action, nullptr);
  // A reader that goes away (| head) must not kill the conversion half-way through a file.
  signal(SIGPIPE, SIG_IGN);
}

int ReceivedStopSignal() {
  return g_stopSignal.load();
}

}  // namespace tovamo::cli
