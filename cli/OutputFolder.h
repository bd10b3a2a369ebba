// Whether the output folder can take the outputs, asked before anything starts.
#pragma once

#include <string>

namespace tovamo::cli {

// Empty when files can be created in `folder` (empty: the current folder); otherwise a
// message that names the folder and what is wrong with it.
std::string OutputFolderProblem(const std::string& folder);

}  // namespace tovamo::cli
