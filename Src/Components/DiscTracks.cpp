#include "Components/DiscTracks.h"

#include <algorithm>
#include <cstring>

#include "Engine/StreamTraits.h"
#include "Services/FFBindings.h"
#include "Services/Text.h"

namespace tovamo {

namespace {

// ISO 639-2 codes (bibliographic and terminology forms) of the languages that have a
// two-letter code and are met on discs and in files.
struct TLanguageCode {
  const char* Three;
  const char* Two;
};
constexpr TLanguageCode kLanguages[] = {
    {"afr", "af"}, {"alb", "sq"}, {"sqi", "sq"}, {"amh", "am"}, {"ara", "ar"}, {"arm", "hy"},
    {"hye", "hy"}, {"aze", "az"}, {"baq", "eu"}, {"eus", "eu"}, {"bel", "be"}, {"ben", "bn"},
    {"bos", "bs"}, {"bre", "br"}, {"bul", "bg"}, {"bur", "my"}, {"mya", "my"}, {"cat", "ca"},
    {"chi", "zh"}, {"zho", "zh"}, {"cze", "cs"}, {"ces", "cs"}, {"dan", "da"}, {"dut", "nl"},
    {"nld", "nl"}, {"eng", "en"}, {"epo", "eo"}, {"est", "et"}, {"fao", "fo"}, {"fin", "fi"},
    {"fre", "fr"}, {"fra", "fr"}, {"geo", "ka"}, {"kat", "ka"}, {"ger", "de"}, {"deu", "de"},
    {"gle", "ga"}, {"glg", "gl"}, {"gre", "el"}, {"ell", "el"}, {"guj", "gu"}, {"heb", "he"},
    {"hin", "hi"}, {"hrv", "hr"}, {"hun", "hu"}, {"ice", "is"}, {"isl", "is"}, {"ind", "id"},
    {"ita", "it"}, {"jpn", "ja"}, {"kan", "kn"}, {"kaz", "kk"}, {"khm", "km"}, {"kor", "ko"},
    {"kur", "ku"}, {"lao", "lo"}, {"lat", "la"}, {"lav", "lv"}, {"lit", "lt"}, {"ltz", "lb"},
    {"mac", "mk"}, {"mkd", "mk"}, {"mal", "ml"}, {"mar", "mr"}, {"may", "ms"}, {"msa", "ms"},
    {"mlt", "mt"}, {"mon", "mn"}, {"nep", "ne"}, {"nor", "no"}, {"nob", "nb"}, {"nno", "nn"},
    {"pan", "pa"}, {"per", "fa"}, {"fas", "fa"}, {"pol", "pl"}, {"por", "pt"}, {"pus", "ps"},
    {"rum", "ro"}, {"ron", "ro"}, {"rus", "ru"}, {"slo", "sk"}, {"slk", "sk"}, {"slv", "sl"},
    {"som", "so"}, {"spa", "es"}, {"srp", "sr"}, {"swa", "sw"}, {"swe", "sv"}, {"tam", "ta"},
    {"tel", "te"}, {"tgl", "tl"}, {"tha", "th"}, {"tib", "bo"}, {"bod", "bo"}, {"tur", "tr"},
    {"ukr", "uk"}, {"urd", "ur"}, {"uzb", "uz"}, {"vie", "vi"}, {"wel", "cy"}, {"cym", "cy"},
    {"yid", "yi"}, {"zul", "zu"}, {"xho", "xh"}, {"yor", "yo"}, {"fil", "tl"}, {"sin", "si"},
};

bool IsTextSubtitle(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_SUBRIP:
    case AV_CODEC_ID_SRT:
    case AV_CODEC_ID_ASS:
    case AV_CODEC_ID_SSA:
    case AV_CODEC_ID_TEXT:
    case AV_CODEC_ID_MOV_TEXT:
    case AV_CODEC_ID_WEBVTT:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string TwoLetterLanguage(const std::string& tag) {
  const std::string code = LowerCaseAscii(TrimText(tag));
  if (code.size() == 2 &&
      std::all_of(code.begin(), code.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
    return code;
  for (const TLanguageCode& entry : kLanguages)
    if (code == entry.Three) return entry.Two;
  return {};
}

std::string StreamLanguage(const AVStream& stream) {
  const AVDictionaryEntry* tag = ff::av_dict_get(stream.metadata, "language", nullptr, 0);
  return tag && tag->value ? TwoLetterLanguage(tag->value) : std::string();
}

TDiscTrackPlan PlanDiscTracks(const AVFormatContext& input) {
  TDiscTrackPlan plan;
  std::int64_t bestVideo = -1;
  int defaultAudio = -1;
  std::int64_t bestAudio = -1;
  for (unsigned i = 0; i < input.nb_streams; ++i) {
    const AVStream& stream = *input.streams[i];
    const AVCodecParameters& par = *stream.codecpar;
    const int index = int(i);
    if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
      if (StreamScore(stream) > bestVideo) {
        bestVideo = StreamScore(stream);
        plan.VideoStream = index;
      }
    } else if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
      // A track without a decoder would fail the whole conversion.
      if (par.ch_layout.nb_channels <= 0 || !ff::avcodec_find_decoder ||
          !ff::avcodec_find_decoder(par.codec_id))
        continue;
      // The engine takes the same stream when it picks one alone.
      if (StreamScore(stream) > bestAudio) {
        bestAudio = StreamScore(stream);
        defaultAudio = int(plan.Audio.size());
      }
      plan.Audio.push_back({index, StreamLanguage(stream)});
    } else if (par.codec_type == AVMEDIA_TYPE_SUBTITLE) {
      if (IsTextSubtitle(par.codec_id))
        plan.Text.push_back({index, StreamLanguage(stream)});
      else
        plan.LeftOutBitmaps.push_back(index);
    }
  }
  if (defaultAudio > 0)
    std::rotate(plan.Audio.begin(), plan.Audio.begin() + defaultAudio,
                plan.Audio.begin() + defaultAudio + 1);
  if (plan.Audio.size() > std::size_t(kMaxDvdAudioTracks)) plan.Audio.resize(kMaxDvdAudioTracks);
  return plan;
}

std::vector<std::string> DiscTrackOptionLines(const TDiscTrackPlan& plan,
                                              const std::string& audioCodec) {
  if (plan.Audio.size() < 2 || plan.VideoStream < 0) return {};
  // The maps name the output's streams in their order: the picture, the first track, then
  // the track each "newaudio" adds.
  std::vector<std::string> lines = {"map=0:" + std::to_string(plan.VideoStream)};
  for (const TDiscTrack& track : plan.Audio)
    lines.push_back("map=0:" + std::to_string(track.StreamIndex));
  for (std::size_t i = 1; i < plan.Audio.size(); ++i) {
    lines.push_back("acodec=" + audioCodec);
    lines.push_back("newaudio=");
  }
  return lines;
}

}  // namespace tovamo
