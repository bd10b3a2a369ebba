// One run of an authoring tool as a step of making an image: how it is started and what
// part of the whole progress it makes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Authoring/DiscAuthor.h"

namespace tovamo::authoring {

struct TDiscAuthor::TStep {
  std::string Tool;
  std::vector<std::string> Argv;
  std::vector<std::string> Env;
  std::string Folder;         // it runs in, and every name it is given is "./" + a name in it
  double From = 0, To = 100;  // its share of the whole progress
  std::function<std::optional<double>(const std::string&)> Fraction;
  std::string GrowingFile;         // tools that print no progress: the file they write...
  std::int64_t ExpectedBytes = 0;  // ...against its expected size
};

}  // namespace tovamo::authoring
