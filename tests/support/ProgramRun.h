// Running an outside program (an authoring tool, a disc reader) from a test.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tovamo::test {

// Runs the program (looked up on PATH) to its end: its exit status (-1 when it cannot run,
// the reason then in place of the output) and its output and errors as one text.
std::pair<int, std::string> RunProgram(const std::vector<std::string>& argv);

}  // namespace tovamo::test
