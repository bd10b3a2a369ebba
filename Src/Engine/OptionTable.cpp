#include "Engine/OptionTable.h"

#include <climits>
#include <cstdio>

namespace tovamo {
namespace {

using E = TCustomFFmpeg;

constexpr const char* kCropRemoved = "Removed, use the crop filter instead";
constexpr const char* kPadRemoved = "Removed, use the pad filter instead";

constexpr TOptionRow NoOp(const char* name) {
  return {.Name = name, .Kind = TOptionKind::NoOp};
}
constexpr TOptionRow Flag(const char* name, bool E::*target) {
  return {.Name = name, .Kind = TOptionKind::Flag, .Flag = target};
}
constexpr TOptionRow Int(const char* name, int E::*target) {
  return {.Name = name, .Kind = TOptionKind::Integer, .Integer = target};
}
constexpr TOptionRow IntIn(const char* name, int E::*target, double min, double max) {
  return {.Name = name, .Kind = TOptionKind::Integer, .Integer = target, .Min = min, .Max = max};
}
constexpr TOptionRow Frames(const char* name, int mediaType) {
  return {.Name = name, .Kind = TOptionKind::Integer, .FrameLimit = mediaType};
}
constexpr TOptionRow Int64(const char* name, std::int64_t E::*target) {
  return {.Name = name, .Kind = TOptionKind::Int64, .Int64 = target};
}
constexpr TOptionRow Float(const char* name, float E::*target) {
  return {.Name = name, .Kind = TOptionKind::Float, .Float = target};
}
constexpr TOptionRow FloatIn(const char* name, float E::*target, double min, double max) {
  return {.Name = name, .Kind = TOptionKind::Float, .Float = target, .Min = min, .Max = max};
}
constexpr TOptionRow Text(const char* name, std::string E::*target, bool keepWhenEmpty = false) {
  return {.Name = name, .Kind = TOptionKind::Text, .Text = target, .KeepWhenEmpty = keepWhenEmpty};
}
constexpr TOptionRow Handler(const char* name, TOptionHandler handler) {
  return {.Name = name, .Kind = TOptionKind::Handler, .Handler = handler};
}
constexpr TOptionRow Removed(const char* name, const char* message) {
  return {.Name = name, .Kind = TOptionKind::Removed, .Message = message};
}

// Ranges of the values that are scaled into the encoders' and muxers' integer fields.
constexpr double kMaxQuality = double(INT_MAX) / FF_QP2LAMBDA;  // times the lambda scale
constexpr double kMaxMuxSeconds = double(INT_MAX) / 1e6;        // held in microseconds
constexpr double kMaxVolume = 65536;                            // 256 is unchanged

const TOptionRow kOptionTable[] = {
    NoOp("L"),
    NoOp("h"),
    NoOp("version"),
    NoOp("formats"),
    NoOp("codecs"),
    NoOp("bsfs"),
    NoOp("protocols"),
    NoOp("filters"),
    Handler("loglevel", &E::OptLogLevel),
    Text("f", &E::ForcedFormat, true),
    NoOp("i"),
    NoOp("y"),
    Handler("map", &E::OptMap),
    Handler("map_meta_data", &E::OptMapMetaData),
    Handler("map_chapters", &E::OptMapChapters),
    Handler("t", &E::OptTime),
    Int64("fs", &E::LimitFileSize),
    Handler("ss", &E::OptTime),
    Handler("itsoffset", &E::OptTime),
    Handler("itsscale", &E::OptInputTsScale),
    Handler("timestamp", &E::OptTime),
    Handler("metadata", &E::OptMetadata),
    Frames("dframes", AVMEDIA_TYPE_DATA),
    NoOp("benchmark"),
    Handler("timelimit", &E::OptTimeLimit),
    Flag("dump", &E::PacketDump),
    Flag("hex", &E::HexDump),
    Flag("re", &E::RateEmulation),
    Flag("loop_input", &E::LoopInput),
    Int("loop_output", &E::LoopOutput),
    Int("v", &E::Verbose),
    Handler("target", &E::OptTarget),
    Handler("threads", &E::OptThreads),
    Int("vsync", &E::VideoSyncMethod),
    Int("async", &E::AudioSyncMethod),
    Float("adrift_threshold", &E::AudioDriftThreshold),
    Int("vglobal", &E::VideoGlobalHeader),
    Flag("copyts", &E::CopyTs),
    Flag("copytb", &E::CopyTb),
    Flag("shortest", &E::Shortest),
    Float("dts_delta_threshold", &E::DtsDeltaThreshold),
    Int("programid", &E::ProgramId),
    Flag("xerror", &E::ExitOnError),
    Int("copyinkf", &E::CopyInitialNonKeyframes),
    Handler("b", &E::OptBitrate),
    Handler("vb", &E::OptBitrate),
    Frames("vframes", AVMEDIA_TYPE_VIDEO),
    Handler("r", &E::OptFrameRate),
    Handler("fpsmax", &E::OptFrameRateMax),
    Handler("s", &E::OptFrameSize),
    Handler("aspect", &E::OptFrameAspectRatio),
    Handler("fit", &E::OptPictureFit),
    Handler("pix_fmt", &E::OptFramePixFmt),
    Removed("croptop", kCropRemoved),
    Removed("cropbottom", kCropRemoved),
    Removed("cropleft", kCropRemoved),
    Removed("cropright", kCropRemoved),
    Removed("padtop", kPadRemoved),
    Removed("padbottom", kPadRemoved),
    Removed("padleft", kPadRemoved),
    Removed("padright", kPadRemoved),
    Removed("padcolor", kPadRemoved),
    Flag("intra", &E::IntraOnly),
    Flag("vn", &E::VideoDisable),
    Int("vdt", &E::VideoDiscard),
    Handler("qscale", &E::OptQscale),
    Handler("rc_override", &E::OptRcOverride),
    Handler("vcodec", &E::OptCodec),
    Int("me_threshold", &E::MeThreshold),
    Flag("sameq", &E::SameQuality),
    Handler("pass", &E::OptPass),
    Text("passlogfile", &E::PassLogFilePrefix),
    Flag("deinterlace", &E::Deinterlace),
    Flag("psnr", &E::Psnr),
    Handler("vstats", &E::OptVstats),
    Handler("vstats_file", &E::OptVstatsFile),
    Handler("vhook", &E::OptVideoHook),
    Handler("vfilters", &E::OptVideoFilters),
    Handler("vf", &E::OptVideoFilters),
    Handler("intra_matrix", &E::OptMatrix),
    Handler("inter_matrix", &E::OptMatrix),
    Int("top", &E::TopFieldFirst),
    IntIn("dc", &E::IntraDcPrecision, 0, 24),  // the encoder's -8..16 plus 8
    Handler("vtag", &E::OptCodecTag),
    Handler("newvideo", &E::OptNewStream),
    Text("vlang", &E::VideoLanguage),
    Flag("qphist", &E::QpHistogram),
    Flag("force_fps", &E::ForceFps),
    Handler("streamid", &E::OptStreamId),
    Text("force_key_frames", &E::ForcedKeyFrames),
    Handler("ab", &E::OptBitrate),
    Frames("aframes", AVMEDIA_TYPE_AUDIO),
    FloatIn("aq", &E::AudioQscale, -kMaxQuality, kMaxQuality),
    Handler("ar", &E::OptAudioRate),
    Handler("ac", &E::OptAudioChannels),
    Flag("an", &E::AudioDisable),
    Handler("acodec", &E::OptCodec),
    Handler("atag", &E::OptCodecTag),
    IntIn("vol", &E::AudioVolume, 0, kMaxVolume),
    Handler("newaudio", &E::OptNewStream),
    Text("alang", &E::AudioLanguage),
    Handler("sample_fmt", &E::OptSampleFmt),
    Flag("sn", &E::SubtitleDisable),
    Handler("scodec", &E::OptCodec),
    Handler("newsubtitle", &E::OptNewStream),
    Text("slang", &E::SubtitleLanguage),
    Handler("stag", &E::OptCodecTag),
    Int("vc", &E::VideoChannel),
    Handler("tvstd", &E::OptVideoStandard),
    Flag("isync", &E::InputSync),
    FloatIn("muxdelay", &E::MuxMaxDelay, 0, kMaxMuxSeconds),
    FloatIn("muxpreload", &E::MuxPreload, 0, kMaxMuxSeconds),
    Handler("absf", &E::OptBitstreamFilter),
    Handler("vbsf", &E::OptBitstreamFilter),
    Handler("sbsf", &E::OptBitstreamFilter),
    Handler("apre", &E::OptPreset),
    Handler("vpre", &E::OptPreset),
    Handler("spre", &E::OptPreset),
    Handler("fpre", &E::OptPreset),
    Handler("autorotate", &E::OptAutoRotate),
    Text("burn_subtitles", &E::BurnSubtitles),
};

}  // namespace

std::span<const TOptionRow> OptionTable() {
  return kOptionTable;
}

void CheckOptionRange(const TOptionRow& row, double value) {
  if (value >= row.Min && value <= row.Max) return;
  char text[160];
  std::snprintf(text, sizeof text, "Option \"%s\" must be between %.10g and %.10g", row.Name,
                row.Min, row.Max);
  throw FFmpegException(text);
}

const TOptionRow* FindOptionRow(const std::string& name) {
  for (const TOptionRow& row : kOptionTable)
    if (name == row.Name) return &row;
  return nullptr;
}

std::string NormalizeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tovamo
