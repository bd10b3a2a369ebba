// The program's version and the media libraries it runs on.
#pragma once

#include <string>

namespace tovamo::cli {

// The "lib" folder beside the program, tried before the system's libraries.
std::string MediaLibraryFolder();

// --version: the program's version and the media libraries it loads, with their files.
// 1 when the libraries cannot be loaded.
int PrintVersion();

}  // namespace tovamo::cli
