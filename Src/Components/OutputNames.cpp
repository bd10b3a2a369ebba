#include "Components/OutputNames.h"

#include <filesystem>
#include <set>
#include <system_error>

namespace tovamo {

namespace fs = std::filesystem;

namespace {

// The output name of an input with "-n" before the extension: "clip-2.mpg".
std::string NumberedPath(const std::string& folder, const std::string& inputPath, int n,
                         const std::string& extension) {
  std::string name = OutputFileName(inputPath, extension);
  name.insert(name.size() - extension.size(), "-" + std::to_string(n));
  return folder.empty() ? name : (fs::path(folder) / name).string();
}

}  // namespace

std::string OutputFileName(const std::string& inputPath, const std::string& extension) {
  const std::string name = fs::path(inputPath).filename().string();
  const std::size_t firstNonDot = name.find_first_not_of('.');
  const std::size_t dot =
      firstNonDot == std::string::npos ? std::string::npos : name.find('.', firstNonDot);
  return name.substr(0, dot) + extension;
}

std::string OutputPathIn(const std::string& folder, const std::string& inputPath,
                         const std::string& extension) {
  const std::string name = OutputFileName(inputPath, extension);
  return folder.empty() ? name : (fs::path(folder) / name).string();
}

std::vector<TBatchOutputName> NameBatchOutputs(const std::string& folder,
                                               const std::vector<std::string>& inputs,
                                               const std::string& extension) {
  // Every input's own name is reserved first, so a renamed input never takes the own name
  // of a later one.
  std::set<std::string> taken;
  for (const std::string& input : inputs) taken.insert(OutputPathIn(folder, input, extension));

  const TSameFileIndex inputFiles(inputs);
  std::vector<TBatchOutputName> names;
  std::set<std::string> given;
  for (const std::string& input : inputs) {
    TBatchOutputName name{OutputPathIn(folder, input, extension), {}};
    if (!given.insert(name.Path).second) {
      name.TakenPath = name.Path;
      for (int n = 2;; ++n) {
        std::string candidate = NumberedPath(folder, input, n, extension);
        if (taken.count(candidate) || given.count(candidate) || inputFiles.IndexOf(candidate) >= 0)
          continue;
        name.Path = std::move(candidate);
        given.insert(name.Path);
        break;
      }
    }
    names.push_back(std::move(name));
  }
  return names;
}

int InputOverwrittenBy(const std::string& output, const std::vector<std::string>& inputs) {
  for (std::size_t i = 0; i < inputs.size(); ++i)
    if (IsSameFile(output, inputs[i])) return int(i);
  return -1;
}

}  // namespace tovamo
