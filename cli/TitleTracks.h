// What of an input's sound tracks and subtitles goes into its output: on the DVD target
// every sound track (unless the user mapped streams), on a DVD image its subtitles as
// selectable streams, and with --subtitles burn the first subtitle drawn into the picture.
#pragma once

#include <string>
#include <vector>

#include "Authoring/DvdSubpictures.h"
#include "ConvertArgs.h"
#include "Services/FFHeaders.h"

namespace tovamo::cli {

struct TTitleTracks {
  std::vector<std::string> OptionLines;  // for the output's option text
  std::vector<std::string> AudioLanguages;
  std::vector<authoring::TDvdSubtitleStream> Subtitles;  // timed on the converted file
};

// Says on standard output what was chosen and on standard error what was left out and why
// (a SubRip file's bad lines, picture subtitles). `audioCodec`: the extra tracks' encoder.
TTitleTracks ChooseTitleTracks(const AVFormatContext& input, const std::string& inputPath,
                               const TConvertArgs& args, int targetType,
                               const std::string& audioCodec);

// The number of sound tracks the output of the input gets: all it has (up to 8) on the DVD
// target, unless the user's options choose the streams; else one.
int OutputSoundTracks(const AVFormatContext& input, const TConvertArgs& args, int targetType);

// Seconds of an option's time ("90", "1:30", "0:01:30.5"); 0 when it does not read.
double OptionSeconds(const std::string& text);

// The drawer of subtitle pictures for the titles: none when no title has subtitles. Call on
// the main thread (it prepares the offscreen drawing).
authoring::TSubtitleDrawer SubtitleDrawerFor(const std::vector<authoring::TDvdTitle>& titles);

}  // namespace tovamo::cli
