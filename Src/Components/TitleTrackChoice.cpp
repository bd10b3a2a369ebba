#include "Components/TitleTrackChoice.h"

#include <cstdlib>

#include "Components/DiscTracks.h"
#include "Components/SubtitleSources.h"
#include "Services/FFBindings.h"
#include "Services/Text.h"

namespace tovamo {

namespace {

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
bool ReadSidecar(const TSidecarSubtitle& sidecar, std::vector<TSubtitleCue>& cues,
                 const TTrackNote& note) {
  std::vector<std::string> problems;
  std::string error;
  const bool read = ReadSubRipFile(sidecar.Path, cues, problems, error);
  for (const std::string& problem : problems)
    note(true, sidecar.Path + ": " + problem + "; skipped");
  if (!read) note(true, error + "; left out");
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
                const TDiscTrackPlan& plan, TTitleTracks& tracks, const TTrackNote& note) {
  std::string value, what;
  for (const TSidecarSubtitle& sidecar : FindSidecarSubtitles(inputPath)) {
    std::vector<TSubtitleCue> cues;
    if (!ReadSidecar(sidecar, cues, note)) continue;
    value = "0:" + sidecar.Path;
    what = sidecar.Path;
    break;
  }
  if (value.empty() && !plan.Text.empty()) {
    value = std::to_string(SubtitleNumber(input, plan.Text[0].StreamIndex)) + ":" + inputPath;
    what = "its subtitle stream #" + std::to_string(plan.Text[0].StreamIndex);
  }
  if (value.empty()) {
    note(false, inputPath + ": no subtitles to burn in");
    return;
  }
  if (!ff::avfilter_get_by_name || !ff::avfilter_get_by_name("subtitles")) {
    note(true, inputPath + ": the media libraries have no \"subtitles\" filter (libass); " + what +
                   " is not burnt in");
    return;
  }
  tracks.OptionLines.push_back("burn_subtitles=" + value);
  note(false, inputPath + ": burning in the subtitles of " + what);
}

void ChooseDiscSubtitles(const std::string& inputPath, const TDiscTrackPlan& plan, double start,
                         TTitleTracks& tracks, const TTrackNote& note) {
  for (const TSidecarSubtitle& sidecar : FindSidecarSubtitles(inputPath)) {
    std::vector<TSubtitleCue> cues;
    if (!ReadSidecar(sidecar, cues, note)) continue;
    tracks.Subtitles.push_back({sidecar.Language, Shifted(cues, start)});
  }
  for (const TDiscTrack& track : plan.Text) {
    std::vector<TSubtitleCue> cues;
    std::string error;
    if (!ReadInputSubtitles(inputPath, track.StreamIndex, cues, error)) {
      note(true, error + "; its subtitles are left out");
      break;
    }
    if (!cues.empty()) tracks.Subtitles.push_back({track.Language, Shifted(cues, start)});
  }
  for (const int index : plan.LeftOutBitmaps)
    note(true, inputPath + ": subtitle stream #" + std::to_string(index) +
                   " is left out: picture subtitles are not carried to the DVD");
  std::vector<std::string> languages;
  for (const auto& stream : tracks.Subtitles) languages.push_back(stream.Language);
  if (!languages.empty())
    note(false, inputPath + ": " + std::to_string(languages.size()) + " subtitle stream" +
                    (languages.size() > 1 ? "s" : "") + " (" + LanguageList(languages) + ")");
}

}  // namespace

std::string OptionLineValue(const std::vector<std::string>& lines, const std::string& name) {
  std::string found;
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos && SameTextIgnoringCase(TrimText(line.substr(0, eq)), name))
      found = line.substr(eq + 1);
  }
  return found;
}

bool OptionsChooseStreams(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string name = TrimText(line.substr(0, line.find('=')));
    for (const char* chooser : {"map", "an", "vn", "newaudio"})
      if (line.find('=') != std::string::npos && SameTextIgnoringCase(name, chooser)) return true;
  }
  return false;
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

TTitleTracks ChooseInputTracks(const AVFormatContext& input, const std::string& inputPath,
                               bool everyTrack, TSubtitleUse subtitles, double start,
                               const std::string& audioCodec, const TTrackNote& note) {
  TTitleTracks tracks;
  const TDiscTrackPlan plan = PlanDiscTracks(input);
  if (everyTrack) {
    tracks.OptionLines = DiscTrackOptionLines(plan, audioCodec);
    if (!tracks.OptionLines.empty() || (plan.Audio.size() == 1 && !plan.Audio[0].Language.empty()))
      for (const TDiscTrack& track : plan.Audio) tracks.AudioLanguages.push_back(track.Language);
    if (!tracks.OptionLines.empty())
      note(false, inputPath + ": " + std::to_string(plan.Audio.size()) + " sound tracks (" +
                      LanguageList(tracks.AudioLanguages) + ")");
  }
  if (subtitles == TSubtitleUse::Burn)
    ChooseBurn(input, inputPath, plan, tracks, note);
  else if (subtitles == TSubtitleUse::Disc)
    ChooseDiscSubtitles(inputPath, plan, start, tracks, note);
  return tracks;
}

}  // namespace tovamo
