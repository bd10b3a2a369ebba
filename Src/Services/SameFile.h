// Whether two local file names are one file: the one rule the output naming, the command's
// batch plan and the engine's refusal to write over an input share.
#pragma once

#include <string>

namespace tovamo {

// True when the two names are one file: the same existing file however written ("./",
// symbolic links, "..", another spelling of the folder, a hard link), or the same path once
// made absolute and normal when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace tovamo
