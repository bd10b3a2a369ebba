// The length of a media file as the media libraries read it, for media whose length
// MPlayer does not report.
#pragma once

#include <QString>

#include <cstdint>

namespace tovamo::player {

// Whole seconds, rounded; -1 when the file is not a regular file, the libraries cannot be
// loaded (from AProgramDir + "lib" or the system) or do not know its length.
std::int64_t MediaLengthSeconds(const QString& AFileName, const QString& AProgramDir);

}  // namespace tovamo::player
