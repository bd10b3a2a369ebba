// Which streams of an input go onto a DVD title: every sound track a DVD can carry, the
// default one first, with its language; and the text subtitle streams, with theirs.
#pragma once

#include <string>
#include <vector>

#include "Services/FFHeaders.h"

namespace tovamo {

constexpr int kMaxDvdAudioTracks = 8;  // a DVD title has at most 8 audio streams

struct TDiscTrack {
  int StreamIndex = -1;
  std::string Language;  // ISO 639-1 ("en"), "" when the input does not say
};

struct TDiscTrackPlan {
  int VideoStream = -1;             // the picture the title shows, -1 none
  std::vector<TDiscTrack> Audio;    // decodable, the default one first, then in the input's order
  std::vector<TDiscTrack> Text;     // SubRip, ASS/SSA and plain text subtitle streams
  std::vector<int> LeftOutBitmaps;  // picture subtitles (DVB, PGS, ...), not carried
};

// The two-letter ISO 639-1 code of a language tag ("eng", "ger", "deu", "en", "EN"): ""
// when it is unknown or undetermined ("und").
std::string TwoLetterLanguage(const std::string& tag);

// The language of a stream's "language" tag, as TwoLetterLanguage gives it.
std::string StreamLanguage(const AVStream& stream);

TDiscTrackPlan PlanDiscTracks(const AVFormatContext& input);

// The output option lines that put every sound track of the plan into the converted file
// ("map" lines for the picture and each track, one "newaudio" per track after the first,
// each with `audioCodec`); none when the plan has fewer than two tracks.
std::vector<std::string> DiscTrackOptionLines(const TDiscTrackPlan& plan,
                                              const std::string& audioCodec);

}  // namespace tovamo
