// What of an input's sound tracks and subtitles goes into the command's output: on the DVD
// target every sound track (unless the user mapped streams), on a DVD image its subtitles as
// selectable streams, and with --subtitles burn the first subtitle drawn into the picture.
#pragma once

#include <string>

#include "Components/TitleTrackChoice.h"
#include "ConvertArgs.h"
#include "Services/FFHeaders.h"

namespace tovamo::cli {

// Says on standard output what was chosen and on standard error what was left out and why
// (a SubRip file's bad lines, picture subtitles). `audioCodec`: the extra tracks' encoder.
TTitleTracks ChooseTitleTracks(const AVFormatContext& input, const std::string& inputPath,
                               const TConvertArgs& args, int targetType,
                               const std::string& audioCodec);

// The number of sound tracks the output of the input gets: all it has (up to 8) on the DVD
// target, unless the user's options choose the streams; else one.
int OutputSoundTracks(const AVFormatContext& input, const TConvertArgs& args, int targetType);

}  // namespace tovamo::cli
