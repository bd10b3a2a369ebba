// What of an input's sound tracks and subtitles goes into its output: on the DVD target
// every sound track (unless the user's options choose the streams), on a DVD image its text
// subtitles as selectable streams, or the first subtitle drawn into the picture.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Authoring/DvdSubpictures.h"
#include "Services/FFHeaders.h"

namespace tovamo {

struct TTitleTracks {
  std::vector<std::string> OptionLines;  // for the output's option text
  std::vector<std::string> AudioLanguages;
  std::vector<authoring::TDvdSubtitleStream> Subtitles;  // timed on the converted file
};

enum class TSubtitleUse { None, Burn, Disc };

// Told what was chosen (warning false) and what was left out and why (warning true).
using TTrackNote = std::function<void(bool warning, const std::string& line)>;

// The value of the last "NAME=VALUE" line of that name (any case), "" when none.
std::string OptionLineValue(const std::vector<std::string>& lines, const std::string& name);

// Whether the option lines choose or leave out streams themselves: those are the user's.
bool OptionsChooseStreams(const std::vector<std::string>& lines);

// Seconds of an option's time ("90", "1:30", "0:01:30.5"); 0 when it does not read.
double OptionSeconds(const std::string& text);

// `everyTrack`: every sound track goes in, each extra one with `audioCodec`; `start`: the
// seconds the conversion skips at the input's start ("ss"), which the subtitles move by.
TTitleTracks ChooseInputTracks(const AVFormatContext& input, const std::string& inputPath,
                               bool everyTrack, TSubtitleUse subtitles, double start,
                               const std::string& audioCodec, const TTrackNote& note);

}  // namespace tovamo
