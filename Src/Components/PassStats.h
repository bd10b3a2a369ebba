// The rate-control statistics a two-pass task's first pass writes and its second pass reads:
// where they go and how they are removed. Their names carry the process id, as the
// temporary outputs' do, so that the leftovers of a run that ended abruptly can be told
// from the work of a run still going.
#pragma once

#include <sys/types.h>

#include <string>

namespace tovamo {

// The prefix the engine's "passlogfile" takes for a task writing `outputPath`: a hidden name
// in the output's folder ("/out/.clip.mpg.2pass-<process id>"), or in the temporary folder
// when the output's folder cannot be written (a device, a read-only folder). The engine adds
// "-<stream>.log"; an encoder of its own may add more (".mbtree", ".temp").
std::string PassStatsPrefix(const std::string& outputPath);

// Removes every file of that prefix.
void RemovePassStats(const std::string& prefix);

// The owner's process id when `name` is a statistics file name of PassStatsPrefix's pattern
// (".<name>.2pass-<id>-<stream>.log..."), else 0.
pid_t PassStatsOwner(const std::string& name);

// The mean quantiser of the pictures a first pass of the MPEG video encoders recorded under
// `prefix` (their "q:" fields, Lagrange factors of 118 a step); 0 when there are none.
double MeanPassQuantiser(const std::string& prefix);

}  // namespace tovamo
