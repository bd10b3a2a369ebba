// The readable profile list the build turns into data.dat: one "name|formatstring" per
// line, blank lines and lines beginning with "#" skipped.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "Profiles.h"

namespace tovamo {

// Raises std::runtime_error "<file>:<line>: <what is wrong>" for a line without a name, a
// format string without exactly nine fields, or a name given twice.
std::vector<TProfile> ReadProfileSource(const std::string& fileName);

}  // namespace tovamo
