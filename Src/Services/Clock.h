// The monotonic clock of the media layer: run timers, rate emulation, pauses and I/O
// time-outs measure with it, so a change of the wall clock cannot cut a call short.
#pragma once

#include <chrono>
#include <cstdint>

namespace tovamo {

inline std::int64_t MonotonicMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace tovamo
