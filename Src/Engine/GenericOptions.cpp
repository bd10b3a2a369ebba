// The library's option system: options outside the engine's vocabulary are set on default
// codec, format and scaler contexts and recorded, and every later codec or format context
// gets them copied in (ApplyGenericOptions).
#include <cctype>
#include <cstdio>
#include <mutex>

#include "Engine/FFmpeg.h"
#include "Engine/OptionTable.h"
#include "Services/Text.h"
#include "Services/FFBindings.h"

namespace tovamo {
namespace {

// Library order: video, audio, data, subtitle, attachment.
constexpr AVMediaType kMediaTypes[kMediaTypeCount] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO,
                                                      AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
                                                      AVMEDIA_TYPE_ATTACHMENT};
// The option flags a generic option must carry to be set on that type's defaults; 0
// matches any option.
constexpr int kSearchMasks[kMediaTypeCount] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                               AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Rate options that today's libraries mark as audio options too. By these names they are
// the video stream's settings, as they always were: the audio stream's bit rate is "ab",
// and an audio encoder handed the video's rate limits refuses to open.
bool VideoOnlyName(const std::string& name) {
  return name == "b" || name == "maxrate" || name == "minrate" || name == "bufsize";
}

std::mutex& LastOptionErrorLock() {
  static std::mutex m;
  return m;
}
std::string& LastOptionErrorText() {
  static std::string text;
  return text;
}
thread_local std::string tThreadLastOptionError;

// Records a rejection: process-wide, for this thread, and in the library log.
void Reject(const std::string& message) {
  SetLastOptionError(message);
  SetThreadLastOptionError(message);
  ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", message.c_str());
}

std::string InvalidValueMessage(const std::string& name, const std::string& value) {
  return "Invalid value \"" + value + "\" for option \"" + name + "\"";
}

const AVOption* FindOption(void* obj, const std::string& name, int mask) {
  const AVOption* o = ff::av_opt_find(obj, name.c_str(), nullptr, mask, 0);
  return o && (o->flags & mask) == mask ? o : nullptr;
}

// Sets the option on obj when obj knows it; found receives the option.
int SetOn(void* obj, const std::string& name, const std::string& value, const AVOption*& found) {
  const AVOption* o = ff::av_opt_find(obj, name.c_str(), nullptr, 0, 0);
  if (!o) return AVERROR_OPTION_NOT_FOUND;
  found = o;
  TCNumericLocale numbers;  // the library reads "0.71" with strtod
  return ff::av_opt_set(obj, name.c_str(), value.c_str(), 0);
}

bool ClassKnows(const AVClass* cls, const char* name) {
  return cls && ff::av_opt_find(&cls, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

bool PrivateClassKnows(const std::string& name) {
  void* it = nullptr;
  while (const AVCodec* codec = ff::av_codec_iterate(&it))
    if (ClassKnows(codec->priv_class, name.c_str())) return true;
  it = nullptr;
  while (const AVOutputFormat* muxer = ff::av_muxer_iterate(&it))
    if (ClassKnows(muxer->priv_class, name.c_str())) return true;
  it = nullptr;
  while (const AVInputFormat* demuxer = ff::av_demuxer_iterate(&it))
    if (ClassKnows(demuxer->priv_class, name.c_str())) return true;
  return false;
}

// False when the codec context's option `name` takes numbers and `value` is a word that is
// not one of its named values.
bool GenericWord(void* codecContext, const std::string& name, const std::string& value) {
  const AVOption* o = ff::av_opt_find(codecContext, name.c_str(), nullptr, 0, 0);
  if (!o || o->type == AV_OPT_TYPE_STRING || o->type == AV_OPT_TYPE_FLAGS) return true;
  if (value.empty() || !std::isalpha(static_cast<unsigned char>(value[0]))) return true;
  return o->unit && ff::av_opt_find(codecContext, value.c_str(), o->unit, 0, 0);
}

// A codec's or muxer's own option of that name that takes text ("profile" of libx264).
bool PrivateTextOption(const std::string& name) {
  const auto isText = [&](const AVClass* cls) {
    const AVOption* o =
        cls ? ff::av_opt_find(&cls, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) : nullptr;
    return o && o->type == AV_OPT_TYPE_STRING;
  };
  void* it = nullptr;
  while (const AVCodec* codec = ff::av_codec_iterate(&it))
    if (isText(codec->priv_class)) return true;
  it = nullptr;
  while (const AVOutputFormat* muxer = ff::av_muxer_iterate(&it))
    if (isText(muxer->priv_class)) return true;
  return false;
}

}  // namespace

std::string LastOptionError() {
  std::lock_guard lock(LastOptionErrorLock());
  return LastOptionErrorText();
}

void SetLastOptionError(const std::string& text) {
  std::lock_guard lock(LastOptionErrorLock());
  LastOptionErrorText() = text;
}

std::string ThreadLastOptionError() {
  return tThreadLastOptionError;
}
void SetThreadLastOptionError(const std::string& text) {
  tThreadLastOptionError = text;
}

void TCustomFFmpeg::AllocOptionContexts(int scalerFlags) {
  FreeOptionContexts();
  // Without the libraries the engine keeps no option contexts (InitDefaults is gated the
  // same way); the generic setter then rejects every option.
  if (!ff::avcodec_alloc_context3 || !ff::avformat_alloc_context || !ff::sws_alloc_context) return;
  TOptionContexts& oc = OptionContexts;
  for (int i = 0; i < kMediaTypeCount; ++i) {
    oc.CodecDefaults[i] = ff::avcodec_alloc_context3(nullptr);
    if (oc.CodecDefaults[i]) oc.CodecDefaults[i]->codec_type = kMediaTypes[i];
  }
  // The scaler context only carries the scaler's options; it is never initialised.
  oc.ScalerDefaults = ff::sws_alloc_context();
  if (oc.ScalerDefaults) ff::av_opt_set_int(oc.ScalerDefaults, "sws_flags", scalerFlags, 0);
  oc.FormatDefaults = ff::avformat_alloc_context();
  bool complete = oc.FormatDefaults && oc.ScalerDefaults;
  for (AVCodecContext* c : oc.CodecDefaults) complete = complete && c;
  if (!complete) {
    FreeOptionContexts();
    throw FFmpegException("Could not allocate the option contexts");
  }
}

void TCustomFFmpeg::FreeOptionContexts() {
  TOptionContexts& oc = OptionContexts;
  for (AVCodecContext*& c : oc.CodecDefaults)
    if (c) ff::avcodec_free_context(&c);
  if (oc.FormatDefaults) {
    ff::avformat_free_context(oc.FormatDefaults);
    oc.FormatDefaults = nullptr;
  }
  if (oc.ScalerDefaults) {
    ff::sws_freeContext(oc.ScalerDefaults);
    oc.ScalerDefaults = nullptr;
  }
  oc.OptionNames.clear();
  oc.OptionValues.clear();
  oc.Private.clear();
  oc.PrivateUsed.clear();
}

bool TCustomFFmpeg::SetGenericOption(const std::string& name, const std::string& value) {
  if (TrimText(name).empty()) return false;
  TOptionContexts& oc = OptionContexts;
  if (!oc.Allocated()) {
    const std::string message =
        "Option \"" + name + "\" needs the media libraries, which are not loaded";
    SetLastOptionError(message);
    SetThreadLastOptionError(message);
    return false;
  }

  const AVOption* found = nullptr;
  int ret = 0;
  // A word the generic option has no name for may be meant for a codec's or muxer's own
  // option of the same name ("profile=high" for libx264): it is kept for that one.
  if (!GenericWord(oc.CodecDefaults[AVMEDIA_TYPE_VIDEO], name, value) && PrivateTextOption(name))
    ret = AVERROR_OPTION_NOT_FOUND;
  const bool videoOnly = VideoOnlyName(name);
  for (int type = 0; type < kMediaTypeCount && ret == 0; ++type) {
    if (videoOnly && type == AVMEDIA_TYPE_AUDIO) continue;
    if (FindOption(oc.CodecDefaults[AVMEDIA_TYPE_VIDEO], name, kSearchMasks[type]))
      ret = SetOn(oc.CodecDefaults[type], name, value, found);
  }
  const bool generic = ret != AVERROR_OPTION_NOT_FOUND;
  if (!found && generic) ret = SetOn(oc.FormatDefaults, name, value, found);
  if (!found && generic) ret = SetOn(oc.ScalerDefaults, name, value, found);
  if (!found && generic && name.size() > 1) {
    const std::string rest = name.substr(1);
    if (name[0] == 'a')
      ret = SetOn(oc.CodecDefaults[AVMEDIA_TYPE_AUDIO], rest, value, found);
    else if (name[0] == 'v')
      ret = SetOn(oc.CodecDefaults[AVMEDIA_TYPE_VIDEO], rest, value, found);
    else if (name[0] == 's')
      ret = SetOn(oc.CodecDefaults[AVMEDIA_TYPE_SUBTITLE], rest, value, found);
  }

  if (found && ret < 0) {
    Reject(InvalidValueMessage(name, value));
    return false;
  }
  if (!found && !PrivateClassKnows(name)) {
    Reject("Unrecognized option \"" + name + "\"");
    return false;
  }

  // A private option keeps its value: the codec or muxer that knows it is not chosen yet.
  oc.OptionNames.push_back(found ? std::string(found->name) : name);
  oc.OptionValues.push_back(found ? std::string() : value);
  oc.Private.push_back(!found);
  oc.PrivateUsed.push_back(false);

  // Debug output is only seen at the debug level: this job's, not every job's.
  if (oc.CodecDefaults[AVMEDIA_TYPE_VIDEO]->debug || oc.FormatDefaults->debug)
    JobLogLevel = llDebug;
  return true;
}

bool TCustomFFmpeg::SetGenericOptionInt(const std::string& name, std::int64_t value) {
  return SetGenericOption(name, std::to_string(value));
}

void TCustomFFmpeg::ApplyGenericOptions(void* context, void* defaultsContext, int flags,
                                        const AVCodec* codec) {
  if (!context || !defaultsContext) return;
  TOptionContexts& oc = OptionContexts;

  void* privateContext = nullptr;
  const AVClass* cls = *static_cast<const AVClass**>(context);
  if (cls && std::string_view(cls->class_name) == "AVCodecContext") {
    auto* c = static_cast<AVCodecContext*>(context);
    if (codec && codec->priv_class && c->priv_data) privateContext = c->priv_data;
  } else if (cls && std::string_view(cls->class_name) == "AVFormatContext") {
    auto* f = static_cast<AVFormatContext*>(context);
    if (f->oformat && f->oformat->priv_class && f->priv_data) privateContext = f->priv_data;
  }

  // Values travel as text from the defaults to the context: the library prints and reads
  // them, both the C way.
  TCNumericLocale numbers;
  for (std::size_t i = 0; i < oc.OptionNames.size(); ++i) {
    const std::string& name = oc.OptionNames[i];
    const bool isPrivate = i < oc.Private.size() && oc.Private[i];
    const AVOption* o =
        isPrivate ? nullptr : ff::av_opt_find(defaultsContext, name.c_str(), nullptr, 0, 0);
    if (o) {
      std::uint8_t* text = nullptr;
      if (ff::av_opt_get(defaultsContext, name.c_str(), 0, &text) >= 0 && text &&
          (o->flags & flags) == flags)
        ff::av_opt_set(context, name.c_str(), reinterpret_cast<const char*>(text), 0);
      ff::av_free(text);
    } else if (privateContext && ff::av_opt_find(privateContext, name.c_str(), nullptr, 0, 0)) {
      // The value was recorded without being checked (no codec was chosen then): a value
      // this codec or muxer refuses is reported instead of silently dropped.
      const std::string& value = oc.OptionValues[i];
      if (i < oc.PrivateUsed.size()) oc.PrivateUsed[i] = true;
      if (ff::av_opt_set(privateContext, name.c_str(), value.c_str(), 0) < 0) {
        const std::string message = InvalidValueMessage(name, value);
        Reject(message);
        if (StrictOptions) throw FFmpegException(message);
      }
    }
  }
}

void TCustomFFmpeg::AddPrivateOptions(AVDictionary** options) const {
  const TOptionContexts& oc = OptionContexts;
  for (std::size_t i = 0; i < oc.OptionNames.size() && i < oc.Private.size(); ++i)
    if (oc.Private[i])
      ff::av_dict_set(options, oc.OptionNames[i].c_str(), oc.OptionValues[i].c_str(), 0);
}

void TCustomFFmpeg::MarkPrivateOptionsUsed(const AVDictionary* leftover) {
  TOptionContexts& oc = OptionContexts;
  for (std::size_t i = 0; i < oc.OptionNames.size() && i < oc.Private.size(); ++i)
    if (oc.Private[i] && !ff::av_dict_get(leftover, oc.OptionNames[i].c_str(), nullptr, 0))
      oc.PrivateUsed[i] = true;
}

void TCustomFFmpeg::ReportUnusedOptions() {
  const TOptionContexts& oc = OptionContexts;
  for (std::size_t i = 0; i < oc.OptionNames.size() && i < oc.Private.size(); ++i)
    if (oc.Private[i] && !oc.PrivateUsed[i])
      Log(llWarning,
          "Option \"" + oc.OptionNames[i] + "\" was not used by any codec or format of this job");
}

}  // namespace tovamo
