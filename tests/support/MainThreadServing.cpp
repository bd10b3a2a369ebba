#include "support/MainThreadServing.h"

#include "Services/MainThread.h"
#include "support/TestTime.h"

namespace tovamo::test {

bool ServeUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + Generous(limit);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    WaitAndServeMainThreadQueue(10);
  }
  return true;
}

}  // namespace tovamo::test
