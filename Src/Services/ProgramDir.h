// The folder of the running executable: "lib", "data.dat" and the player live beside it.
#pragma once

#include <string>

namespace tovamo {

std::string ProgramDir();  // without a trailing "/"

}  // namespace tovamo
