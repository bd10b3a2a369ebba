// tovamo-convert: converts video files into video CD, super video CD or DVD MPEG files from
// a shell or a script, on the encoder component the converter window uses.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandProfile.h"
#include "ConvertArgs.h"
#include "ConvertRun.h"
#include "StopSignals.h"
#include "Version.h"

int main(int argc, char** argv) {
  using namespace tovamo::cli;
  const TParseResult parsed = ParseConvertArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.Args) {
    std::fprintf(stderr, "tovamo-convert: %s\n%s", parsed.Error.c_str(), UsageText().c_str());
    return 2;
  }
  if (parsed.Args->Help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (parsed.Args->Version) return PrintVersion();
  if (parsed.Args->ListProfiles) return PrintProfileNames();
  InstallStopSignals();
  return RunConvert(*parsed.Args);
}
