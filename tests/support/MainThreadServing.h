// For tests whose engine or encoder sends its notices to the main thread's queue.
#pragma once

#include <chrono>
#include <functional>

namespace tovamo::test {

// Serves the main thread's queue (the handlers sent there run in it) until `done` holds;
// false when the limit, stretched as every test limit is, passes first.
bool ServeUntil(const std::function<bool()>& done,
                std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace tovamo::test
