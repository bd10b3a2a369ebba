// What the fuzz entries share: the media libraries loaded as the tests load them, and a
// private folder for the entries whose parser reads a file.
#pragma once

#include <string>
#include <string_view>

namespace tovamo::fuzz {

// Loads every media library from the system search path; ends the program when it cannot
// (a fuzz run without them would test nothing).
void LoadMediaLibraries();

// A folder of this process's own, made on first use and removed at exit.
const std::string& ScratchDir();

// Writes the input to a file of that name in the scratch folder and returns its path.
std::string WriteScratchFile(const std::string& name, std::string_view content);

}  // namespace tovamo::fuzz
