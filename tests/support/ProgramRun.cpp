#include "support/ProgramRun.h"

#include "Authoring/ToolProcess.h"

namespace tovamo::test {

std::pair<int, std::string> RunProgram(const std::vector<std::string>& argv) {
  authoring::TToolProcess process;
  if (!process.Start(argv)) return {-1, process.Error()};
  std::string output;
  while (process.ReadLines(1000, [&](const std::string& line) { output += line + "\n"; })) {
  }
  return {process.Wait(), output};
}

}  // namespace tovamo::test
