#include "StopSignals.h"

#include <signal.h>

#include <atomic>

namespace tovamo::cli {

namespace {

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

void OnStopSignal(int signal) {
  int none = 0;
  if (!g_stopSignal.compare_exchange_strong(none, signal)) {
    // The second one: the default action (the process ends by that signal).
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    raise(signal);
  }
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that goes away (| head) must not kill the conversion half-way through a file.
  signal(SIGPIPE, SIG_IGN);
}

int ReceivedStopSignal() {
  return g_stopSignal.load();
}

}  // namespace tovamo::cli
