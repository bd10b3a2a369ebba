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

// The default clip, written into a temporary folder of its own that goes with the object.
class TGeneratedSample {
 public:
  TGeneratedSample();  // throws std::runtime_error
  ~TGeneratedSample();
  TGeneratedSample(const TGeneratedSample&) = delete;
  TGeneratedSample& operator=(const TGeneratedSample&) = delete;
  const std::string& Path() const { return Path_; }

 private:
  std::string Folder_;
  std::string Path_;
};

}  // namespace tovamo::cli
