// Writes one short synthetic media file from a plain description: a muxer, an optional
// video stream (a moving bar over a drifting gradient) and an optional audio stream (a
// sine tone, 440 Hz on the first channel, a different pitch on each further channel).
#pragma once

#include <optional>
#include <string>

namespace fixturegen {

struct TVideoSpec {
  std::string Encoders;  // comma-separated, the first one this build of libavcodec has wins
  int Width = 160;
  int Height = 120;
  int RateNum = 25;  // frames per second = RateNum / RateDen
  int RateDen = 1;
};

struct TAudioSpec {
  std::string Encoders;  // comma-separated, as for video
  int SampleRate = 44100;
  int Channels = 2;
};

struct TFixtureSpec {
  std::string FileName;
  std::string Muxer;  // libavformat short name ("avi", "mpeg", "mov", ...)
  std::optional<TVideoSpec> Video;
  std::optional<TAudioSpec> Audio;
  double Seconds = 2.0;
};

// Writes folder/spec.FileName, replacing any file of that name, and returns a one-line
// summary of what was written (encoders actually used, sizes, rates). Throws
// std::runtime_error with the file name and the library's error text on any failure; no
// partial file is left behind then.
std::string WriteFixture(const std::string& folder, const TFixtureSpec& spec);

}  // namespace fixturegen
