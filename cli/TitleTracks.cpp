#include "TitleTracks.h"

#include <cstdio>
#include <cstdlib>

#include "Components/DiscTracks.h"
#include "Components/SubtitleSources.h"
#include "OffscreenPainting.h"
#include "Services/FFBindings.h"
#include "Services/FFLog.h"
#include "SubtitlePicture.h"

namespace tovamo::cli {

namespace {

constexpr int kDvdTarget = 3;

void Note(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  DefaultLogger()->Log(nullptr, llInfo, line);
}

void Warn(const std::string& line) {
  std::fprintf(stderr, "tovamo-convert: %s\n", line.c_str());
  DefaultLogger()->Log(nullptr, llWarning, line);
}

std::string LanguageList(const std::vector<std::string>& languages) {
  std::string text;
  for (const std::string& language : languages)
    text += (text.empty() ? "" : ", ") + (language.empty() ? std::string("?") : language);
  return text;
}

// The cues moved onto the converted file's clock, those wholly before its start dropped.
std::vector<TSubtitleCue> Shifted(const std::vector<TSubtitleCue>& cues, double start) {
  std::vector<TSubtitleCue> moved;
  for (TSubtitleCue cue : cues) {
    cue.Start -= start;
    cue.End -= start;
    if (cue.End <= 0) continue;
    if (cue.Start < 0) cue.Start = 0;
    moved.push_back(cue);
  }
  return moved;
}

// A SubRip file's cues; its bad lines are told, and a file without a cue is left out.
bool ReadSidecar(const TSidecarSubtitle& sidecar, std::vector<TSubtitleCue>& cues) {
  std::vector<std::string> problems;
  std::string error;
  const bool read = ReadSubRipFile(sidecar.Path, cues, problems, error);
  for (const std::string& problem : problems) Warn(sidecar.Path + ": " + problem + "; skipped");
  if (!read) Warn(error + "; left out");
  return read;
}

// The number of a stream among the file's subtitle streams, as the burning filter counts.
int SubtitleNumber(const AVFormatContext& input, int streamIndex) {
  int number = 0;
  for (int i = 0; i < streamIndex; ++i)
    number += input.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
  return number;
}

void ChooseBurn(const AVFormatContext& input, const std::string& inputPath,
                const TDiscTrackPlan& plan, TTitleTracks& tracks) {
  std::string value, what;
  for (const TSidecarSubtitle& sidecar : FindSidecarSubtitles(inputPath)) {
    std::vector<TSubtitleCue> cues;
    if (!ReadSidecar(sidecar, cues)) continue;
    value = "0:" + sidecar.Path;
    what = sidecar.Path;
    break;
  }
  if (value.empty() && !plan.Text.empty()) {
    value = std::to_string(SubtitleNumber(input, plan.Text[0].StreamIndex)) + ":" + inputPath;
    what = "its subtitle stream #" + std::to_string(plan.Text[0].StreamIndex);
  }
  if (value.empty()) {
    Note(inputPath + ": no subtitles to burn in");
    return;
  }
  if (!ff::avfilter_get_by_name || !ff::avfilter_get_by_name("subtitles")) {
    Warn(inputPath + ": the media libraries have no \"subtitles\" filter (libass); " + what +
         " is not burnt in");
    return;
  }
  tracks.OptionLines.push_back("burn_subtitles=" + value);
  Note(inputPath + ": burning in the subtitles of " + what);
}

void ChooseDiscSubtitles(const std::string& inputPath, const TDiscTrackPlan& plan, double start,
                         TTitleTracks& tracks) {
  for (const TSidecarSubtitle& sidecar : FindSidecarSubtitles(inputPath)) {
    std::vector<TSubtitleCue> cues;
    if (!ReadSidecar(sidecar, cues)) continue;
    tracks.Subtitles.push_back({sidecar.Language, Shifted(cues, start)});
  }
  for (const TDiscTrack& track : plan.Text) {
    std::vector<TSubtitleCue> cues;
    std::string error;
    if (!ReadInputSubtitles(inputPath, track.StreamIndex, cues, error)) {
      Warn(error + "; its subtitles are left out");
      break;
    }
    if (!cues.empty()) tracks.Subtitles.push_back({track.Language, Shifted(cues, start)});
  }
  for (const int index : plan.LeftOutBitmaps)
    Warn(inputPath + ": subtitle stream #" + std::to_string(index) +
         " is left out: picture subtitles are not carried to the DVD");
  std::vector<std::string> languages;
  for (const auto& stream : tracks.Subtitles) languages.push_back(stream.Language);
  if (!languages.empty())
    Note(inputPath + ": " + std::to_string(languages.size()) + " subtitle stream" +
         (languages.size() > 1 ? "s" : "") + " (" + LanguageList(languages) + ")");
}

// Streams the user chose or left out are theirs to decide.
bool EveryTrack(const TConvertArgs& args, int targetType) {
  if (targetType != kDvdTarget) return false;
  for (const char* name : {"map", "an", "vn", "newaudio"})
    if (OptionValue(args.Options, name)) return false;
  return true;
}

}  // namespace

int OutputSoundTracks(const AVFormatContext& input, const TConvertArgs& args, int targetType) {
  if (!EveryTrack(args, targetType)) return 1;
  const TDiscTrackPlan plan = PlanDiscTracks(input);
  return DiscTrackOptionLines(plan, "ac3").empty() ? 1 : int(plan.Audio.size());
}

double OptionSeconds(const std::string& text) {
  double seconds = 0;
  std::size_t at = 0;
  for (int part = 0; part < 3 && at < text.size(); ++part) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str() + at, &end);
    if (end == text.c_str() + at) return 0;
    seconds = seconds * 60 + value;
    at = std::size_t(end - text.c_str());
    if (at < text.size() && text[at] == ':')
      ++at;
    else
      break;
  }
  return seconds > 0 ? seconds : 0;
}

TTitleTracks ChooseTitleTracks(const AVFormatContext& input, const std::string& inputPath,
                               const TConvertArgs& args, int targetType,
                               const std::string& audioCodec) {
  TTitleTracks tracks;
  const TDiscTrackPlan plan = PlanDiscTracks(input);
  const bool dvd = targetType == kDvdTarget;
  if (EveryTrack(args, targetType)) {
    tracks.OptionLines = DiscTrackOptionLines(plan, audioCodec);
    if (!tracks.OptionLines.empty() || (plan.Audio.size() == 1 && !plan.Audio[0].Language.empty()))
      for (const TDiscTrack& track : plan.Audio) tracks.AudioLanguages.push_back(track.Language);
    if (!tracks.OptionLines.empty())
      Note(inputPath + ": " + std::to_string(plan.Audio.size()) + " sound tracks (" +
           LanguageList(tracks.AudioLanguages) + ")");
  }
  const double start = OptionSeconds(OptionValue(args.Options, "ss").value_or(""));
  if (args.Subtitles == "burn")
    ChooseBurn(input, inputPath, plan, tracks);
  else if (args.Subtitles == "disc" && dvd && !args.DiscImage.empty())
    ChooseDiscSubtitles(inputPath, plan, start, tracks);
  return tracks;
}

authoring::TSubtitleDrawer SubtitleDrawerFor(const std::vector<authoring::TDvdTitle>& titles) {
  bool any = false;
  for (const authoring::TDvdTitle& title : titles) any = any || !title.Subtitles.empty();
  if (!any) return {};
  discmenu::EnsureGuiForPainting();
  return [](const std::string& text, int width, int height, double pixelAspect,
            const std::string& png) {
    return discmenu::DrawSubtitlePicture(text, width, height, pixelAspect, png);
  };
}

}  // namespace tovamo::cli
