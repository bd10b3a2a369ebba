// The disc authoring tools as independent judges of a disc output: dvdauthor for DVD,
// vcdimager for VCD and SVCD. A file they warn about cannot be made into a disc as it is.
#pragma once

#include <string>
#include <vector>

namespace tovamo::test {

struct TJudgement {
  bool Ran = false;  // the tool was found and run to its end
  int ExitCode = -1;
  std::string Output;                   // everything it wrote
  std::vector<std::string> Complaints;  // its lines holding "WARN" or "ERR"
};

// Authors a DVD title set from the file into a folder under workDir.
TJudgement JudgeDvd(const std::string& file, const std::string& workDir);

// Builds a VCD ("vcd2") or SVCD ("svcd") image from the file in workDir. The remark that a
// file without sound has no audio stream is not a complaint.
TJudgement JudgeVcd(const std::string& type, const std::string& file, const std::string& workDir);

}  // namespace tovamo::test
