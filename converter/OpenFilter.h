// The Add dialog's filter: the usual video containers by name, and in "All Supported Files"
// also every extension the loaded media libraries' demuxers claim, so that every container
// they open can be picked.
#pragma once

#include <QString>
#include <string>
#include <vector>

namespace tovamo {

// The extensions the loaded libraries' demuxers claim ("mkv", "ts", ...), sorted, each
// once; none when the libraries are not loaded.
std::vector<std::string> DemuxerExtensions();

// The filter text with the given extensions added to "All Supported Files".
QString OpenFileFilter(const std::vector<std::string>& libraryExtensions);

}  // namespace tovamo
