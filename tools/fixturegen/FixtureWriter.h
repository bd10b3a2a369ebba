// Writes one short synthetic media file from a plain description: a muxer, an optional
// video stream (a moving bar over a drifting gradient), any number of audio streams (a
// sine tone, 440 Hz on the first channel unless set, a different pitch on each further
// channel) and optional text subtitles; then, for the tests of bad input, optionally
// damages the bytes written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Damage.h"
#include "Scenes.h"

namespace fixturegen {

struct TVideoSpec {
  std::string Encoders;  // comma-separated, the first one this build of libavcodec has wins
  int Width = 160;
  int Height = 120;
  int RateNum = 25;  // frames per second = RateNum / RateDen
  int RateDen = 1;
  int MaxBFrames = 0;       // up to this many B-frames between reference pictures
  bool Interlaced = false;  // coded as interlaced (field DCT and motion), top field first
  // Timestamp steps in frame periods, taken in turn: {1, 2} alternates one and two periods
  // (a variable frame rate). Empty: one period per picture.
  std::vector<int> FrameSteps = {};
  double StartSeconds = 0;  // timestamp of the first picture
  // Every picture carries a stereo 3D tag (2D) and an A/53 closed-caption packet, which the
  // MPEG-2 encoder writes as user data ("JP3D", "GA94"), as HDV camcorders do.
  bool UserData = false;
  // Clockwise turn (0, 90, 180, 270) a player gives the stored picture by the display
  // matrix; the pictures are stored turned the other way, so that they show upright.
  int Rotation = 0;
  std::string PixelFormat = {};        // the encoder's pixel format by name; empty: its first
  bool CornerMark = false;             // a white square in the upright picture's top-left corner
  double LengthSeconds = 0;            // how long the pictures go on; 0: the clip's length
  TScene Scene = TScene::TestPicture;  // what the pictures show
  int SampleAspectNum = 1;             // the pixels' shape (16:15 is a 4:3 PAL picture)
  int SampleAspectDen = 1;
  // "key=value:key=value" for the encoder ("crf=12:preset=veryfast"); empty: 400 kbit/s
  std::string EncoderOptions = {};
  double DarkSeconds = 0;  // the pictures are black up to this time (a fade from black)
};

struct TAudioSpec {
  std::string Encoders;  // comma-separated, as for video
  int SampleRate = 44100;
  int Channels = 2;
  double Pitch = 440;         // of the first channel; each further one 110 Hz higher
  bool Default = false;       // marked as the file's default stream of its kind
  std::string Language = {};  // ISO 639-2 code, "" none
};

// A text subtitle cue, written as a SubRip stream.
struct TCue {
  double Start;  // seconds
  double End;
  std::string Text;
};

struct TFixtureSpec {
  std::string FileName;
  std::string Muxer = {};  // libavformat short name ("avi", "mpeg", "mov", ...); empty: no media
  std::optional<TVideoSpec> Video = {};
  std::vector<TAudioSpec> Audio = {};
  double Seconds = 2.0;
  std::vector<TCue> Subtitles = {};
  // "key=value:key=value", for the output context and the muxer (avformat_write_header)
  std::string MuxerOptions = {};
  // Added to every timestamp from the middle of the clip on: a jump in the file's times.
  double JumpSeconds = 0;
  // Done to the bytes once written. With no muxer it starts from an empty file.
  TDamage Damage = TDamage::None;
  // A cover picture stored with the file (album art, a thumbnail): one flat grey picture
  // of this size and encoder, marked as an attached picture.
  std::optional<TVideoSpec> Cover = {};
  // The bytes written this many times in a row, as clips joined with `cat` are: each copy's
  // timestamps start again.
  int Copies = 1;
  // Large or slow to write: only written when asked for by name.
  bool OnRequest = false;
  std::string SubtitleLanguage = {};  // of the SubRip stream: ISO 639-2 code, "" none
};

// Writes folder/spec.FileName, replacing any file of that name, and returns a one-line
// summary of what was written (encoders actually used, sizes, rates). Throws
// std::runtime_error with the file name and the library's error text on any failure; no
// partial file is left behind then.
std::string WriteFixture(const std::string& folder, const TFixtureSpec& spec);

}  // namespace fixturegen
