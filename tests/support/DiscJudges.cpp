#include "support/DiscJudges.h"

#include <filesystem>
#include <sstream>

#include "Authoring/ToolProcess.h"

namespace tovamo::test {
namespace {

// Runs the program (looked up on PATH) with its output and errors read as one text.
TJudgement Run(const std::vector<std::string>& argv) {
  TJudgement result;
  authoring::TToolProcess process;
  if (!process.Start(argv)) return result;
  while (process.ReadLines(1000, [&](const std::string& line) { result.Output += line + "\n"; })) {
  }
  result.ExitCode = process.Wait();
  result.Ran = true;
  std::istringstream lines(result.Output);
  for (std::string line; std::getline(lines, line);)
    if (line.find("WARN") != std::string::npos || line.find("ERR") != std::string::npos)
      result.Complaints.push_back(line);
  return result;
}

}  // namespace

TJudgement JudgeDvd(const std::string& file, const std::string& workDir) {
  const std::string dir = workDir + "/dvd";
  std::filesystem::create_directories(dir);
  return Run({"dvdauthor", "-o", dir, "-t", file});
}

TJudgement JudgeVcd(const std::string& type, const std::string& file, const std::string& workDir) {
  TJudgement result =
      Run({"vcdimager", "-t", type, "-c", workDir + "/x.cue", "-b", workDir + "/x.bin", file});
  std::erase_if(result.Complaints,
                [](const std::string& line) { return line.find("no audio") != std::string::npos; });
  return result;
}

}  // namespace tovamo::test
