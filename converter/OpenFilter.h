// The Add dialog's filter: the usual video containers by name, and in "All Supported Files"
// also every extension the loaded media libraries' demuxers claim, so that every container
// they open can be picked.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace tovamo {

// The extensions the loaded libraries' demuxers claim ("mkv", "ts", ...), sorted, each
// once; none when the libraries are not loaded.
std::vector<std::string> DemuxerExtensions();

// The patterns of the video containers the filter names ("*.avi", ...): what a dropped
// folder adds. The libraries' own extensions are left out: they claim pictures, sound and
// text too.
QStringList VideoFilePatterns();

// The filter text with the given extensions added to "All Supported Files".
QString OpenFileFilter(const std::vector<std::string>& libraryExtensions);

}  // namespace tovamo
