#include "BatchPlan.h"

#include "Components/OutputNames.h"

namespace tovamo::cli {

std::vector<TPlannedInput> PlanOutputs(const std::string& folder,
                                       const std::vector<std::string>& inputs,
                                       const std::string& extension) {
  const std::vector<TBatchOutputName> names = NameBatchOutputs(folder, inputs, extension);
  const TSameFileIndex inputFiles(inputs);
  std::vector<TPlannedInput> plan;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    TPlannedInput item{inputs[i], names[i].Path, names[i].TakenPath, {}};
    const int overwritten = inputFiles.IndexOf(item.Output);
    if (overwritten == int(i))
      item.Refusal = "its output " + item.Output + " is the input itself";
    else if (overwritten >= 0)
      item.Refusal = "its output " + item.Output + " would overwrite the input " +
                     inputs[std::size_t(overwritten)];
    plan.push_back(std::move(item));
  }
  return plan;
}

}  // namespace tovamo::cli
