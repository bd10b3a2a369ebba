// Ends the process with a message when a test body has not finished in time, so that a
// deadlock fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "TestTime.h"

namespace tovamo::test {

class TWatchdog {
 public:
  explicit TWatchdog(const char* what, std::chrono::seconds limit = std::chrono::seconds(10))
      : Thread_([this, what, limit] {
          std::unique_lock lock(Lock_);
          if (!Done_.wait_for(lock, Generous(limit), [this] { return Finished_; })) {
            std::fprintf(stderr, "FAILED: %s did not finish within %lld s (deadlock)\n", what,
                         static_cast<long long>(Generous(limit).count() / 1000));
            std::fflush(stderr);
            std::_Exit(1);
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(Lock_);
      Finished_ = true;
    }
    Done_.notify_all();
    Thread_.join();
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

 private:
  std::mutex Lock_;
  std::condition_variable Done_;
  bool Finished_ = false;
  std::thread Thread_;
};

}  // namespace tovamo::test
