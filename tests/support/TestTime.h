// Time limits for tests on a shared machine that may be busy with other work. A test waits
// for an event; a limit only ends a wait that would otherwise never end, or bounds what a
// behaviour promises ("stops within a second"). Every limit is stretched by how busy the
// machine is when the test starts (the load average per core, when above one) and by
// TOVAMO_TEST_SLOWDOWN, a factor of at least 1 for a machine known to be slow.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tovamo::test {

inline double Slowdown() {
  static const double factor = [] {
    const char* text = std::getenv("TOVAMO_TEST_SLOWDOWN");
    double given = text != nullptr ? std::strtod(text, nullptr) : 1.0;
    if (!(given >= 1.0)) given = 1.0;
    double load[1] = {0.0};
    const double cores = std::max(1u, std::thread::hardware_concurrency());
    const double busy = getloadavg(load, 1) == 1 ? load[0] / cores : 0.0;
    return given * (busy > 1.0 ? busy : 1.0);
  }();
  return factor;
}

// A limit stretched by the slowdown factor.
template <typename Rep, typename Period>
std::chrono::milliseconds Generous(std::chrono::duration<Rep, Period> limit) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<double, std::milli>(limit) * Slowdown());
}

// The same for the millisecond counts of Qt's waits.
inline int GenerousMs(int milliseconds) {
  return static_cast<int>(milliseconds * Slowdown());
}

}  // namespace tovamo::test
