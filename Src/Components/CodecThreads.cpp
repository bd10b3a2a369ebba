#include "Components/CodecThreads.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace tovamo {

int ProcessorCores() {
  // The affinity mask, which taskset and container limits narrow, before the machine's
  // count.
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return std::max(1u, std::thread::hardware_concurrency());
}

int TasksAtOnce(int jobs, int cores, int tasks) {
  const int wanted = jobs > 0 ? jobs : std::max(1, cores);
  return std::max(1, std::min(wanted, tasks));
}

int CodecThreadsPerTask(int cores, int running, bool userChoseThreads) {
  if (userChoseThreads) return 0;
  if (running <= 0 || running >= cores) return 0;
  return cores / running;
}

}  // namespace tovamo
