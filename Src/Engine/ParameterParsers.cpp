// Option handlers that parse a structured value: picture and sample settings, bit rates,
// codecs and tags, quantiser settings, statistics files, frame hooks and bitstream filters.
// The map, stream id and timestamp-scale handlers are in MapParsers.cpp, the time handlers
// in TimeParsers.cpp. Every handler checks its whole value before it changes a setting, so
// a rejected value leaves the engine as it was.
#include <ctime>

#include "Engine/FFmpeg.h"
#include "Engine/OptionNumbers.h"
#include "Services/FFBindings.h"
#include "Services/FrameHook.h"
#include "Services/ProgramDir.h"
#include "Services/Text.h"

namespace tovamo {
namespace {

// Integer part of "a:b" for the aspect ratio: a text that is no number counts as 0.
int IntOrZero(const std::string& text) {
  int v = 0;
  return TryStrToInt(text, v) ? v : 0;
}

}  // namespace

void TCustomFFmpeg::OptFrameRate(const std::string&, const std::string& value) {
  if (value.empty()) return;
  AVRational rate{0, 0};
  int ret;
  {
    TCNumericLocale numbers;  // the library reads "29.97" with strtod
    ret = ff::av_parse_video_rate(&rate, value.c_str());
  }
  if (ret < 0) throw FFmpegException("Incorrect frame rate");
  FrameRate = rate;
}

void TCustomFFmpeg::OptFrameRateMax(const std::string&, const std::string& value) {
  if (value.empty()) return;
  AVRational rate{0, 0};
  int ret;
  {
    TCNumericLocale numbers;
    ret = ff::av_parse_video_rate(&rate, value.c_str());
  }
  if (ret < 0) throw FFmpegException("Incorrect frame rate");
  FrameRateMax = rate;
}

void TCustomFFmpeg::OptFrameSize(const std::string&, const std::string& value) {
  if (value.empty()) return;
  int width = 0, height = 0;
  // A size the libraries parse may still be one no picture can have (65536x65536): its
  // byte count would overflow what they compute.
  if (ff::av_parse_video_size(&width, &height, value.c_str()) < 0 ||
      ff::av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0)
    throw FFmpegException("Incorrect frame size");
  FrameWidth = width;
  FrameHeight = height;
}

// The ratio is checked as the setting holds it: a number beyond single precision would be
// infinity there, and one too small for it would be 0 ("no aspect given").
void TCustomFFmpeg::OptFrameAspectRatio(const std::string&, const std::string& value) {
  if (value.empty()) return;
  float ratio = 0;
  const std::size_t colon = value.find(':');
  if (colon != std::string::npos) {
    const int x = IntOrZero(value.substr(0, colon));
    const int y = IntOrZero(value.substr(colon + 1));
    if (y > 0) ratio = float(double(x) / double(y));
  } else if (!TryStrToSingle(value, ratio)) {
    ratio = 0;
  }
  // A picture is never wider than it is negative.
  if (!(ratio > 0)) throw FFmpegException("Incorrect aspect ratio specification.");
  FrameAspectRatio = ratio;
}

void TCustomFFmpeg::OptPictureFit(const std::string&, const std::string& value) {
  if (!ParsePictureFit(TrimText(value), PictureFit))
    throw FFmpegException("Invalid fit \"" + value + "\": pad, stretch, crop or inside");
}

void TCustomFFmpeg::OptFramePixFmt(const std::string&, const std::string& value) {
  if (value == "list") {
    char line[128];
    // The header line comes first: the library writes it for "no format".
    ff::av_get_pix_fmt_string(line, sizeof line, AV_PIX_FMT_NONE);
    Log(llInfo, TrimText(line));
    for (const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_next(nullptr); desc;
         desc = ff::av_pix_fmt_desc_next(desc)) {
      ff::av_get_pix_fmt_string(line, sizeof line, ff::av_pix_fmt_desc_get_id(desc));
      Log(llInfo, TrimText(line));
    }
    return;
  }
  const AVPixelFormat format = ff::av_get_pix_fmt(value.c_str());
  if (format == AV_PIX_FMT_NONE) throw FFmpegException("Unknown pixel format requested: " + value);
  FramePixFmt = format;
  FramePixFmtAsked = true;
}

void TCustomFFmpeg::OptAutoRotate(const std::string&, const std::string& value) {
  int on = 0;
  if (!TryStrToInt(TrimText(value), on) || (on != 0 && on != 1))
    throw FFmpegException("Invalid autorotate \"" + value +
                          "\": 1 turns pictures upright, 0 keeps them as stored");
  const TInputShape& was = AutoRotate ? TurnedShape : StoredShape;
  const TInputShape& now = on ? TurnedShape : StoredShape;
  AutoRotate = on != 0;
  // The shape an input opened before gave stays the outputs' default unless set since.
  if (FrameWidth == was.Width && FrameHeight == was.Height && FrameAspectRatio == was.Aspect) {
    FrameWidth = now.Width;
    FrameHeight = now.Height;
    FrameAspectRatio = now.Aspect;
  }
}

void TCustomFFmpeg::OptSampleFmt(const std::string&, const std::string& value) {
  if (value == "list") {
    char line[128];
    // Index -1 gives the header line.
    for (int i = -1; i < AV_SAMPLE_FMT_NB; ++i) {
      ff::av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(i));
      Log(llInfo, TrimText(line));
    }
    return;
  }
  const AVSampleFormat format = ff::av_get_sample_fmt(value.c_str());
  if (format == AV_SAMPLE_FMT_NONE)
    throw FFmpegException("Invalid sample format \"" + value + "\"");
  AudioSampleFmt = format;
}

void TCustomFFmpeg::OptBitrate(const std::string& name, const std::string& value) {
  if (!SetGenericOption(name, value)) {
    if (StrictOptions) throw FFmpegException(ThreadLastOptionError());
    return;
  }
  const int type = !name.empty() && name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
  AVCodecContext* defaults = OptionContexts.CodecDefaults[type];
  std::int64_t bitRate = 0;
  if (defaults && ff::av_opt_get_int(defaults, "b", 0, &bitRate) >= 0 && bitRate < 1000)
    Log(llWarning,
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::OptQscale(const std::string&, const std::string& value) {
  // The range is checked on the single-precision value that is kept: a tiny positive text
  // would otherwise pass and be kept as 0, which means "no fixed quality".
  const float q = StrToSingle(value);
  if (!(q > 0 && q <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
  VideoQscale = q;
}

void TCustomFFmpeg::OptThreads(const std::string&, const std::string& value) {
  ThreadCount = StrToInt(value);
  if (Verbose >= 0)
    Log(llVerbose,
        "Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
        "using thread emulation.");
}

void TCustomFFmpeg::OptPass(const std::string&, const std::string& value) {
  const int pass = StrToInt(value);
  if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
  Pass = pass;
}

void TCustomFFmpeg::OptCodec(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  std::string* codecName;
  int* streamCopy;
  switch (name.empty() ? 's' : name[0]) {
    case 'v':
      codecName = &VideoCodecName;
      streamCopy = &VideoStreamCopy;
      break;
    case 'a':
      codecName = &AudioCodecName;
      streamCopy = &AudioStreamCopy;
      break;
    default:
      codecName = &SubtitleCodecName;
      streamCopy = &SubtitleStreamCopy;
      break;
  }
  codecName->clear();
  if (value == "copy")
    *streamCopy = 1;
  else
    *codecName = value;
}

void TCustomFFmpeg::OptCodecTag(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  std::uint32_t* tag;
  if (name == "vtag")
    tag = &VideoCodecTag;
  else if (name == "atag")
    tag = &AudioCodecTag;
  else if (name == "stag")
    tag = &SubtitleCodecTag;
  else
    throw FFmpegException("Invalid tag parmeter " + name);
  std::int64_t number = 0;
  if (TryStrToInt64(value, number)) {
    *tag = std::uint32_t(std::uint64_t(number) & 0xFFFFFFFFu);
    return;
  }
  if (value.size() != 4) throw FFmpegException("tag parameter must be 4 chars or int value");
  const auto byte = [&](int i) { return std::uint32_t(static_cast<unsigned char>(value[i])); };
  *tag = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

// The coefficients are read into a fresh matrix that replaces the setting only when all 64
// were read: a half-filled matrix (zero coefficients) would make the encoder divide by zero.
// A coefficient must be a plain decimal number from 1 to 65535 (what the 16-bit matrix can
// hold); anything else is a syntax error at that coefficient.
void TCustomFFmpeg::OptMatrix(const std::string& name, const std::string& value) {
  TQuantMatrix matrix{};
  const auto syntaxError = [&](int i) {
    return FFmpegException("Syntax error in matrix \"" + value + "\" at coeff " +
                           std::to_string(i));
  };
  std::size_t pos = 0;
  for (int i = 0; i < 64; ++i) {
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    std::uint32_t coeff = 0;
    std::size_t digits = 0;
    while (pos < value.size() && value[pos] >= '0' && value[pos] <= '9') {
      coeff = coeff * 10 + std::uint32_t(value[pos] - '0');
      if (coeff > 65535) throw syntaxError(i);
      ++pos;
      ++digits;
    }
    if (digits == 0 || coeff == 0) throw syntaxError(i);
    matrix[i] = std::uint16_t(coeff);
    if (i == 63) break;
    pos = value.find(',', pos);
    if (pos == std::string::npos) throw syntaxError(i);
    ++pos;
  }
  if (name == "inter_matrix")
    InterMatrix = matrix;
  else
    IntraMatrix = matrix;
}

void TCustomFFmpeg::OptVstats(const std::string&, const std::string& value) {
  VstatsFileName.clear();
  if (value == "0") return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char clock[16];
  std::snprintf(clock, sizeof clock, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
  VstatsFileName = ProgramDir() + "/vstats_" + clock + ".log";
}

void TCustomFFmpeg::OptVstatsFile(const std::string&, const std::string& value) {
  VstatsFileName = value;
}

void TCustomFFmpeg::OptVideoHook(const std::string&, const std::string& value) {
  // The library path and the hook's arguments, split at "|" when the value has one (so
  // that they may hold blanks), else at blanks; separators in a row make no empty argument.
  constexpr std::size_t kMaxArguments = 254;
  const char separator = value.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> args;
  for (std::size_t start = 0, end; start < value.size(); start = end + 1) {
    end = value.find(separator, start);
    if (end == std::string::npos) end = value.size();
    if (end > start) args.push_back(value.substr(start, end - start));
  }
  // Arguments beyond the limit are refused rather than dropped: the hook would run with
  // settings nobody gave it.
  if (args.size() > kMaxArguments) {
    LogFmt(llError, "A video hook takes at most %zu arguments (%zu given)", kMaxArguments,
           args.size());
    throw FFmpegException("Failed to add video hook function: " + value);
  }
  if (!FrameHooks) FrameHooks = std::make_shared<TFrameHookChain>();
  if (AddFrameHook(*FrameHooks, args) < 0)
    throw FFmpegException("Failed to add video hook function: " + value);
  UsingFrameHooks = true;
}

void TCustomFFmpeg::OptBitstreamFilter(const std::string& name, const std::string& value) {
  if (value.empty() || value[0] == '=') return;
  const std::size_t eq = value.find('=');
  const std::string filterName = TrimText(value.substr(0, eq));
  const AVBitStreamFilter* filter = ff::av_bsf_get_by_name(filterName.c_str());
  if (!filter) throw FFmpegException("Unknown bitstream filter " + TrimText(value));
  const std::string args = eq == std::string::npos ? std::string() : value.substr(eq + 1);
  // Arguments are checked now, on a context of their own, so that a mistake is reported
  // where it was made rather than when the job starts.
  if (!args.empty()) {
    AVBSFContext* probe = nullptr;
    if (ff::av_bsf_alloc(filter, &probe) < 0 || !probe)
      throw FFmpegException("Could not allocate bitstream filter " + TrimText(value));
    const int ret = filter->priv_class && probe->priv_data
                        ? ff::av_set_options_string(probe->priv_data, args.c_str(), "=", ":")
                        : AVERROR(EINVAL);
    ff::av_bsf_free(&probe);
    if (ret < 0)
      throw FFmpegException("Invalid arguments for bitstream filter " + filterName + ": " + args);
  }
  std::vector<TBitstreamFilterSpec>& chain = name.empty()     ? SubtitleBitstreamFilters
                                             : name[0] == 'v' ? VideoBitstreamFilters
                                             : name[0] == 'a' ? AudioBitstreamFilters
                                                              : SubtitleBitstreamFilters;
  chain.push_back({filter->name, args});
}

void TCustomFFmpeg::OptMetadata(const std::string&, const std::string& value) {
  const std::size_t eq = value.find('=');
  if (eq == std::string::npos) throw FFmpegException("Missing =");
  if (eq == 0) throw FFmpegException("wrong parameter of metadata");
  SetMetadata(value.substr(0, eq), value.substr(eq + 1));
}

}  // namespace tovamo
