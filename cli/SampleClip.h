// A short generated clip for a first run without files of one's own (and for the
// benchmark): a moving bar over a drifting gradient with a two-tone sound, MPEG-2 video and
// MP2 sound in a NUT file, written through the loaded media libraries.
#pragma once

#include <string>

namespace tovamo::cli {

struct TSampleSpec {
  int Width = 352;
  int Height = 288;
  int FrameRate = 25;
  int Seconds = 4;
};

// Writes the clip to `path` (replacing it). Throws std::runtime_error with the failing step
// and the library's message; no partial file is left behind then.
void WriteSampleClip(const std::string& path, const TSampleSpec& spec);

}  // namespace tovamo::cli
