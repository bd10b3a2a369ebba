// A command run as a child process and measured whole: its wall time, its CPU time and its
// peak memory, for the benchmarks that compare programs side by side.
#pragma once

#include <string>
#include <vector>

namespace tovamo::bench {

struct TChildRun {
  bool Ok = false;  // it ran and exited with 0
  double Wall = 0;
  double Cpu = 0;     // user + system of the process and the children it waited for
  double PeakMb = 0;  // its maximum resident set
};

// Runs `args` (the program looked up on the PATH) with `env` ("NAME=value") added to the
// environment, its standard output and error into the file `log` (made anew). A program
// that cannot be started is said on standard error.
TChildRun RunChild(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::string& log);

}  // namespace tovamo::bench
