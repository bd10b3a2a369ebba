#include "TitleTracks.h"

#include <cstdio>

#include "Components/DiscTracks.h"
#include "Services/FFLog.h"

namespace tovamo::cli {

namespace {

constexpr int kDvdTarget = 3;

void Note(bool warning, const std::string& line) {
  if (warning) {
    std::fprintf(stderr, "tovamo-convert: %s\n", line.c_str());
  } else {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  DefaultLogger()->Log(nullptr, warning ? llWarning : llInfo, line);
}

// Streams the user chose or left out are theirs to decide.
bool EveryTrack(const TConvertArgs& args, int targetType) {
  return targetType == kDvdTarget && !OptionsChooseStreams(args.Options);
}

}  // namespace

int OutputSoundTracks(const AVFormatContext& input, const TConvertArgs& args, int targetType) {
  if (!EveryTrack(args, targetType)) return 1;
  const TDiscTrackPlan plan = PlanDiscTracks(input);
  return DiscTrackOptionLines(plan, "ac3").empty() ? 1 : int(plan.Audio.size());
}

TTitleTracks ChooseTitleTracks(const AVFormatContext& input, const std::string& inputPath,
                               const TConvertArgs& args, int targetType,
                               const std::string& audioCodec) {
  const TSubtitleUse subtitles =
      args.Subtitles == "burn" ? TSubtitleUse::Burn
      : args.Subtitles == "disc" && targetType == kDvdTarget && !args.DiscImage.empty()
          ? TSubtitleUse::Disc
          : TSubtitleUse::None;
  return ChooseInputTracks(input, inputPath, EveryTrack(args, targetType), subtitles,
                           OptionSeconds(OptionLineValue(args.Options, "ss")), audioCodec, Note);
}

}  // namespace tovamo::cli
