// Where an input's text subtitles come from: the SubRip files beside it ("NAME.srt",
// "NAME.LANG.srt") and the SubRip, ASS/SSA or plain text streams inside it.
#pragma once

#include <string>
#include <vector>

#include "Components/SubtitleText.h"

namespace tovamo {

struct TSidecarSubtitle {
  std::string Path;
  std::string Language;  // ISO 639-1 from "NAME.LANG.srt", "" for "NAME.srt"
};

// The SubRip files beside an input: "NAME.srt" first, then "NAME.LANG.srt" in name order
// (NAME: the input's name without its extension; the extension in any case).
std::vector<TSidecarSubtitle> FindSidecarSubtitles(const std::string& inputPath);

// Reads a SubRip file; false with the reason when it cannot be read or is not SubRip at all
// (no cue). Problems with single blocks go to `problems`.
bool ReadSubRipFile(const std::string& path, std::vector<TSubtitleCue>& cues,
                    std::vector<std::string>& problems, std::string& error);

// The cues of a text subtitle stream of an input file, read with the media libraries;
// false with the reason when the file cannot be read.
bool ReadInputSubtitles(const std::string& path, int streamIndex, std::vector<TSubtitleCue>& cues,
                        std::string& error);

}  // namespace tovamo
