// The pitch of the sound in a media file, to tell which of an input's sound streams (each
// a tone of its own pitch) an output took.
#pragma once

#include <string>

namespace tovamo::test {

// The frequency in Hz of the tone on the first channel of the file's first audio stream,
// counted from its zero crossings over `seconds` from `fromSeconds`; 0 when there is no
// sound to count (the libraries must be loaded).
double ToneFrequency(const std::string& path, double fromSeconds = 0.2, double seconds = 0.5);

}  // namespace tovamo::test
