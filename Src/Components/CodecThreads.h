// How many tasks run at once and how many codec threads each one gets, so that the machine's
// cores are used without running more jobs than there are cores. A task whose codecs get
// threads also splits its work into stages (Engine/JobPipeline.h): a full batch runs every
// task on one thread, so the batch never asks for more threads than there are cores.
#pragma once

namespace tovamo {

// The processor cores this process may use (at least 1).
int ProcessorCores();

// Tasks at once: the -j value, or one per core when it is 0; never more than the tasks.
int TasksAtOnce(int jobs, int cores, int tasks);

// The codec threads of each task when `running` tasks share `cores`: the spare cores'
// share (cores / running), or 0 when every core already has a task of its own or the user
// chose the threads himself (a "threads" option). 0 means: leave the engine's default.
int CodecThreadsPerTask(int cores, int running, bool userChoseThreads);

}  // namespace tovamo
