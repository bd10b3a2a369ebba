// The output of every input of a run, by the naming rules the converter window uses, and
// the inputs that must not be converted because their output would overwrite an input.
#pragma once

#include <string>
#include <vector>

namespace tovamo::cli {

struct TPlannedInput {
  std::string Input;
  std::string Output;
  std::string TakenOutput;  // the input's own output name, held by an earlier input
  std::string Refusal;      // not empty: the input is not converted, for this reason
};

// Every output gets `extension` (".mpg", or ".mp4" for an H.264 profile).
std::vector<TPlannedInput> PlanOutputs(const std::string& folder,
                                       const std::vector<std::string>& inputs,
                                       const std::string& extension = ".mpg");

}  // namespace tovamo::cli
