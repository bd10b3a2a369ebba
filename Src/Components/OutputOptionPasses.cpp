#include "Components/OutputOptionPasses.h"

#include <cmath>
#include <ctime>

#include "Engine/FFmpeg.h"
#include "Engine/QualityClass.h"
#include "Services/Exceptions.h"

namespace tovamo {
namespace {

// The text's lines that set a per-stream value; "vfilters" is the same as "vf".
bool QueuedSetting(const std::string& name) {
  static const char* const kNames[] = {"acodec", "vcodec", "scodec",   "apre", "vpre",
                                       "spre",   "s",      "vfilters", "vf"};
  for (const char* n : kNames)
    if (name == n) return true;
  return false;
}

void SetInt(TFFmpeg& engine, const char* name, std::int64_t value) {
  if (!engine.SetGenericOptionInt(name, value) && engine.StrictOptions) {
    const std::string reason = ThreadLastOptionError();
    throw FFmpegException(reason.empty() ? "Invalid value for option \"" + std::string(name) + "\""
                                         : reason);
  }
}

void SetText(TFFmpeg& engine, const char* name, const std::string& value) {
  if (!value.empty()) engine.ParseOption(name, value);
}

// The settings a "new" line applies to the stream it adds, in order.
std::vector<std::string> SettingsOfNewStream(const std::string& line) {
  if (line == "newaudio") return {"acodec", "apre"};
  if (line == "newvideo") return {"vcodec", "vpre", "s", "vf"};
  if (line == "newsubtitle") return {"scodec", "spre"};
  return {};
}

AVMediaType CodecLineType(const std::string& name) {
  if (name == "vcodec") return AVMEDIA_TYPE_VIDEO;
  if (name == "acodec") return AVMEDIA_TYPE_AUDIO;
  if (name == "scodec") return AVMEDIA_TYPE_SUBTITLE;
  return AVMEDIA_TYPE_UNKNOWN;
}

}  // namespace

std::string OutputOptionTextError(const std::string& optionText) {
  try {
    TFFmpeg probe(1);
    probe.StrictOptions = true;
    std::vector<TOptionLine> codecs;
    for (const TOptionLine& line : SplitOptionText(optionText)) {
      if (!SettingsOfNewStream(line.Name).empty()) continue;
      if (CodecLineType(line.Name) != AVMEDIA_TYPE_UNKNOWN) {
        codecs.push_back(line);  // after the others: "strict" decides which codecs may be used
      } else if (line.Name == "apre" || line.Name == "vpre" || line.Name == "spre") {
        if (!line.Value.empty()) probe.ApplyPreset(line.Name, line.Value);
      } else {
        probe.ParseOption(line.Name == "vfilters" ? "vf" : line.Name, line.Value);
      }
    }
    for (const TOptionLine& line : codecs) {
      if (line.Value.empty() || line.Value == "copy") continue;
      const AVMediaType type = CodecLineType(line.Name);
      const AVCodecContext* defaults = probe.OptionContexts.CodecDefaults[type];
      AVCodecID id;
      if (!probe.FindCodec(line.Value, type, true,
                           defaults ? defaults->strict_std_compliance : FF_COMPLIANCE_NORMAL, id))
        return probe.LastError;
    }
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

TOptionDefaults::TOptionDefaults(const TOutputOptions& options) {
  const TOptionLine fields[] = {{"acodec", options.AudioCodec},    {"vcodec", options.VideoCodec},
                                {"scodec", options.SubtitleCodec}, {"apre", options.AudioPreset},
                                {"vpre", options.VideoPreset},     {"spre", options.SubtitlePreset},
                                {"s", options.FrameSize},          {"vf", options.VideoFilters}};
  for (const TOptionLine& field : fields)
    if (!field.Value.empty()) Defaults_.push_back(field);

  for (TOptionLine line : SplitOptionText(options.ExtraOptions)) {
    if (!QueuedSetting(line.Name) || line.Value.empty()) continue;
    if (line.Name == "vfilters") line.Name = "vf";
    if (Default(line.Name).empty()) Defaults_.push_back(line);
    Queue_.push_back(line);
  }
}

std::string TOptionDefaults::Default(const std::string& name) const {
  for (const TOptionLine& entry : Defaults_)
    if (entry.Name == name && !entry.Value.empty()) return entry.Value;
  return {};
}

bool TOptionDefaults::TakeQueued(const std::string& name, std::string& value) {
  for (auto it = Queue_.begin(); it != Queue_.end(); ++it) {
    if (it->Name != name) continue;
    value = it->Value;
    Queue_.erase(it);
    return true;
  }
  return false;
}

void ApplyOutputRecord(TFFmpeg& engine, const TOutputOptions& o) {
  const bool target = !TargetName(o.TargetType).empty();
  SetText(engine, "f", o.FileFormat);
  if (o.PacketSize > 0) SetInt(engine, "packetsize", o.PacketSize);
  if (o.MuxRate > 0) SetInt(engine, "muxrate", o.MuxRate);
  if (o.MuxDelay > 0) engine.SetMuxMaxDelay(o.MuxDelay);
  if (o.MuxPreload > 0) engine.SetMuxPreload(o.MuxPreload);
  if (o.DisableAudio) engine.ParseOption("an", "1");
  if (o.AudioVolume >= 0) engine.SetAudioVolume(o.AudioVolume);
  if (o.AudioChannels > 0) engine.ParseOption("ac", std::to_string(o.AudioChannels));
  if (o.AudioSampleRate > 0) engine.ParseOption("ar", std::to_string(o.AudioSampleRate));
  if (o.AudioBitrate > 0 && !target) SetInt(engine, "ab", o.AudioBitrate);
  if (o.AudioBitrateTolerance > 0) SetInt(engine, "abt", o.AudioBitrateTolerance);
  SetText(engine, "alang", o.AudioLanguage);
  engine.SetAudioSyncMethod(o.AudioSync);
  SetText(engine, "atag", o.AudioTag);
  if (o.DisableVideo) engine.ParseOption("vn", "1");
  SetText(engine, "r", o.FrameRate);
  SetText(engine, "aspect", o.AspectRatio);
  if (o.GopSize > 0) SetInt(engine, "g", o.GopSize);
  if (o.VideoBitrate > 0 && !target) SetInt(engine, "vb", o.VideoBitrate);
  if (o.VideoMaxRate > 0) SetInt(engine, "maxrate", o.VideoMaxRate);
  if (o.VideoMinRate > 0) SetInt(engine, "minrate", o.VideoMinRate);
  if (o.VideoBitrateTolerance > 0) SetInt(engine, "bt", o.VideoBitrateTolerance);
  if (o.VideoBufSize > 0) SetInt(engine, "bufsize", o.VideoBufSize);
  engine.SetVideoSyncMethod(o.VideoSync);
  SetText(engine, "vtag", o.VideoTag);
  SetText(engine, "vlang", o.VideoLanguage);
  if (o.DisableSubtitle) engine.ParseOption("sn", "1");
  SetText(engine, "slang", o.SubtitleLanguage);
  engine.InputSync = o.InputSync;
  if (o.CopyTimestamps) engine.CopyTs = true;
  if (o.StartTime != kNoTime) engine.SetInputStartTime(o.StartTime);
  if (o.RecordingTime != kNoTime) engine.SetRecordingTime(o.RecordingTime);

  const TStreamInfo& info = o.StreamInfo;
  if (info.Timestamp == 0)
    engine.RecordingTimestamp = std::time(nullptr);
  else if (info.Timestamp > 0)
    engine.RecordingTimestamp = CalendarToUnixSeconds(info.Timestamp);
  if (info.Year > 0) engine.SetMetadata("year", std::to_string(info.Year));
  if (info.Track > 0) engine.SetMetadata("track", std::to_string(info.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
  for (const auto& [key, value] : texts)
    if (!value->empty()) engine.SetMetadata(key, *value);
}

void ApplyQualityClass(TFFmpeg& engine, const std::string& quality) {
  TQualityClass chosen;
  if (!ParseQualityClass(quality, chosen))
    throw FFmpegException("Unknown quality class \"" + quality + "\" (fast, standard or best)");
  for (const auto& [name, value] : QualityClassOptions(chosen, engine.VideoCodecName)) {
    // A setting this build's encoder lacks leaves that one out; the class is a wish.
    if (engine.SetGenericOption(name, value))
      engine.LogFmt(llVerbose, "Quality %s: %s=%s", QualityClassInfo(chosen).Name, name.c_str(),
                    value.c_str());
  }
}

void ApplyExtraStreams(TFFmpeg& engine, const std::string& optionText, TOptionDefaults& defaults) {
  for (const TOptionLine& line : SplitOptionText(optionText)) {
    const std::vector<std::string> settings = SettingsOfNewStream(line.Name);
    if (settings.empty()) continue;
    for (const std::string& setting : settings) {
      std::string value;
      if (!defaults.TakeQueued(setting, value)) value = defaults.Default(setting);
      // An empty value changes nothing (and "s" or a preset would refuse it).
      if (!value.empty()) engine.ParseOption(setting, value);
    }
    engine.ParseOption(line.Name, line.Value);
  }
}

std::string TargetName(int targetType) {
  switch (targetType) {
    case 1:
      return "vcd";
    case 2:
      return "svcd";
    case 3:
      return "dvd";
    default:
      return {};
  }
}

std::string NormName(int normType) {
  switch (normType) {
    case 1:
      return "pal";
    case 2:
      return "ntsc";
    default:
      return "auto";
  }
}

std::string FallbackNormName(int fallbackNorm) {
  return fallbackNorm == 1 ? "pal" : "ntsc";
}

std::int64_t CalendarToUnixSeconds(double dateTime) {
  // The wall-clock fields of the local date-time, then the local time zone's rules for that
  // moment (daylight saving included) through mktime.
  const double localSeconds = std::round((dateTime - 25569.0) * 86400.0);
  const std::time_t asIfUtc = static_cast<std::time_t>(localSeconds);
  std::tm fields{};
  gmtime_r(&asIfUtc, &fields);
  fields.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&fields));
}

}  // namespace tovamo
