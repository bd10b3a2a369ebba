// Ctrl-C, SIGTERM and SIGHUP (a closed terminal) as a request to stop the batch cleanly.
// The handler only records the signal; the run's loop sees it and stops the encoder.
// Signals within a second of the first are the same stop (a supervisor often sends several
// at once); one that comes later ends the process at once, with the authoring tool it may
// be running, for a stop that does not come to an end.
#pragma once

namespace tovamo::cli {

void InstallStopSignals();

// The first stop signal received (SIGINT, SIGTERM or SIGHUP), 0 while none came.
int ReceivedStopSignal();

}  // namespace tovamo::cli
