// One run of tovamo-convert: checks, tasks on the encoder component, the live display, a
// clean stop on Ctrl-C, SIGTERM or SIGHUP, the closing lines and the exit status.
#pragma once

#include "ConvertArgs.h"

namespace tovamo::cli {

// Exit status: 0 every input converted; 1 any input failed, was refused or stopped, gave
// nothing to write or (with --strict) ended early, or the output folder, the log file or the
// libraries are missing; 2 an --option the engine rejects, a --log that names one of the
// run's files or a file that is not a text log, an unknown --profile, one whose values
// cannot become options or a profile store that cannot be read;
// 128 + the signal after Ctrl-C (130), SIGTERM (143) or SIGHUP (129).
int RunConvert(const TConvertArgs& args);

}  // namespace tovamo::cli
