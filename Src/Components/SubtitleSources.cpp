#include "Components/SubtitleSources.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Components/DiscTracks.h"
#include "Services/FFBindings.h"
#include "Services/Text.h"

namespace fs = std::filesystem;

namespace tovamo {

namespace {

constexpr double kOpenEndedCueSeconds = 3;  // a stream cue that gives no length

}  // namespace

std::vector<TSidecarSubtitle> FindSidecarSubtitles(const std::string& inputPath) {
  const fs::path input(inputPath);
  const std::string name = input.stem().string();
  fs::path folder = input.parent_path();
  if (folder.empty()) folder = ".";
  std::vector<TSidecarSubtitle> plain, tagged;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path path = it->path();
    if (LowerCaseAscii(path.extension().string()) != ".srt") continue;
    const std::string stem = path.stem().string();
    std::error_code typeError;
    if (!fs::is_regular_file(path, typeError)) continue;
    if (stem == name) {
      plain.push_back({path.string(), {}});
    } else if (stem.size() > name.size() + 1 && stem.rfind(name + ".", 0) == 0) {
      const std::string tag = stem.substr(name.size() + 1);
      if (tag.find('.') == std::string::npos)
        tagged.push_back({path.string(), TwoLetterLanguage(tag)});
    }
  }
  const auto byPath = [](const TSidecarSubtitle& a, const TSidecarSubtitle& b) {
    return a.Path < b.Path;
  };
  std::sort(plain.begin(), plain.end(), byPath);
  std::sort(tagged.begin(), tagged.end(), byPath);
  plain.insert(plain.end(), tagged.begin(), tagged.end());
  return plain;
}

bool ReadSubRipFile(const std::string& path, std::vector<TSubtitleCue>& cues,
                    std::vector<std::string>& problems, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  std::string text;
  constexpr std::size_t kMaxBytes = 16 << 20;  // far beyond any subtitle file
  text.resize(kMaxBytes + 1);
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  if (text.size() > kMaxBytes) {
    error = "\"" + path + "\" is too large for a subtitle file";
    return false;
  }
  cues = ParseSubRip(text, problems);
  if (cues.empty()) {
    error = "\"" + path + "\" holds no SubRip cue";
    return false;
  }
  return true;
}

bool ReadInputSubtitles(const std::string& path, int streamIndex, std::vector<TSubtitleCue>& cues,
                        std::string& error) {
  AVFormatContext* input = nullptr;
  const std::string url = "file:" + path;
  if (const int ret = ff::avformat_open_input(&input, url.c_str(), nullptr, nullptr); ret < 0) {
    error = "cannot open \"" + path + "\" for its subtitles";
    return false;
  }
  if (streamIndex < 0 || unsigned(streamIndex) >= input->nb_streams) {
    ff::avformat_close_input(&input);
    error = "\"" + path + "\" has no stream " + std::to_string(streamIndex);
    return false;
  }
  const AVStream* stream = input->streams[streamIndex];
  const AVCodecID codec = stream->codecpar->codec_id;
  const double base = av_q2d(stream->time_base);
  const double origin = input->start_time != AV_NOPTS_VALUE ? double(input->start_time) / 1e6 : 0;
  for (unsigned i = 0; i < input->nb_streams; ++i)
    if (int(i) != streamIndex) input->streams[i]->discard = AVDISCARD_ALL;
  AVPacket* packet = ff::av_packet_alloc();
  while (packet && ff::av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE && packet->size > 0) {
      std::string text(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size));
      if (codec == AV_CODEC_ID_MOV_TEXT)  // a 16-bit length, then the text
        text =
            text.size() >= 2
                ? text.substr(2, std::size_t((std::uint8_t(text[0]) << 8) | std::uint8_t(text[1])))
                : std::string();
      if (codec == AV_CODEC_ID_ASS || codec == AV_CODEC_ID_SSA) text = AssEventText(text);
      const auto nul = text.find('\0');
      if (nul != std::string::npos) text.resize(nul);
      TSubtitleCue cue;
      cue.Start = double(packet->pts) * base - origin;
      cue.End = packet->duration > 0 ? cue.Start + double(packet->duration) * base
                                     : cue.Start + kOpenEndedCueSeconds;
      cue.Text = PlainCueText(text);
      if (!cue.Text.empty()) cues.push_back(cue);
    }
    ff::av_packet_unref(packet);
  }
  ff::av_packet_free(&packet);
  ff::avformat_close_input(&input);
  std::stable_sort(cues.begin(), cues.end(),
                   [](const TSubtitleCue& a, const TSubtitleCue& b) { return a.Start < b.Start; });
  // A cue open until the next one ends there.
  for (std::size_t i = 0; i + 1 < cues.size(); ++i)
    cues[i].End = std::min(cues[i].End, std::max(cues[i].Start, cues[i + 1].Start));
  return true;
}

}  // namespace tovamo
